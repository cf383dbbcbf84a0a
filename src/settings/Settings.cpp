#include "settings/Settings.h"

#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/files/Bookmark.h"
#include "platform/files/FileReader.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/Fonts.h"
#include "settings/LumoraError.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace lumora {

namespace {

const QString kTypewriterSounds = QStringLiteral("typewriterSounds");
const QString kTypewriterScrolling = QStringLiteral("typewriterScrolling");
const QString kNoEditing = QStringLiteral("noEditing");
const QString kHighlighting = QStringLiteral("highlighting");
const QString kThemes = QStringLiteral("themes");
const QString kTheme = QStringLiteral("theme");
const QString kEditorSize = QStringLiteral("editorSize");
const QString kInfoViewVisible = QStringLiteral("infoViewVisible");
const QString kLibrarySummaryLines = QStringLiteral("librarySummaryLines");
const QString kAutomaticallySwitchTheme = QStringLiteral("automaticallySwitchTheme");
const QString kParagraphSpacingFactor = QStringLiteral("paragraphSpacingFactor");
const QString kStylesheetUrl = QStringLiteral("stylesheetUrl");
const QString kCustomFont = QStringLiteral("customFont");
const QString kFontSize = QStringLiteral("fontSize");
// A stylesheet is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaximumStylesheetSize = 16 * 1024 * 1024;

bool isUsableSize(std::optional<double> size) { return MarkdownStylesheet::isUsableSize(size); }

Settings* g_shared = nullptr;

// Unicode scalar order, case-sensitive: UTF-16 order differs only where
// characters beyond the first plane meet U+E000...U+FFFF.
bool scalarLess(const QString& a, const QString& b)
{
    const QList<uint> x = a.toUcs4();
    const QList<uint> y = b.toUcs4();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}

ThemeList builtInThemeList()
{
    ThemeList list;
    for (const auto& builtIn : Theme::defaultThemes()) list.push_back(Theme::make(builtIn->propertyList(), list));
    return list;
}

} // namespace

// Raw values -----------------------------------------------------------------

QString Settings::rawValue(Highlighting h)
{
    switch (h) {
    case Highlighting::off: return QStringLiteral("off");
    case Highlighting::sentence: return QStringLiteral("sentence");
    case Highlighting::paragraph: return QStringLiteral("paragraph");
    }
    return QStringLiteral("off");
}

std::optional<Settings::Highlighting> Settings::highlightingFromRawValue(const QString& value)
{
    for (Highlighting h : allHighlightings)
        if (rawValue(h) == value) return h;
    return std::nullopt;
}

double Settings::rawValue(EditorSize size)
{
    switch (size) {
    case EditorSize::s: return 712.0;
    case EditorSize::m: return 968.0;
    case EditorSize::l: return 0.0;
    }
    return 712.0;
}

std::optional<Settings::EditorSize> Settings::editorSizeFromRawValue(double value)
{
    for (EditorSize s : allEditorSizes)
        if (rawValue(s) == value) return s;
    return std::nullopt;
}

double Settings::rawValue(ParagraphSpacing spacing)
{
    switch (spacing) {
    case ParagraphSpacing::defaultSpacing: return 0.0;
    case ParagraphSpacing::halfLine: return 0.5;
    case ParagraphSpacing::oneLine: return 1.0;
    }
    return 0.0;
}

std::optional<Settings::ParagraphSpacing> Settings::paragraphSpacingFromRawValue(double value)
{
    for (ParagraphSpacing s : allParagraphSpacings)
        if (rawValue(s) == value) return s;
    return std::nullopt;
}

// Construction ---------------------------------------------------------------

Settings& Settings::shared()
{
    return g_shared ? *g_shared : makeShared({});
}

Settings& Settings::makeShared(const std::function<void(Settings&)>& beforeStart)
{
    if (g_shared) return *g_shared;
    // Published before the stylesheet is loaded: loading announces the text
    // attributes, and what listens may ask for the instance again.
    auto* settings = new Settings(&UserDefaults::standard(), DeferStart{});
    g_shared = settings;
    if (beforeStart) beforeStart(*settings);
    settings->start();
    return *settings;
}

Settings::Settings(UserDefaults* store) : Settings(store, DeferStart{})
{
    start();
}

Settings::Settings(UserDefaults* store, DeferStart)
    : m_userDefaults(store), m_stylesheet(MarkdownStylesheet::defaultStylesheet())
{
    // Themes another Lumora adds, edits or removes meanwhile keep those
    // changes: the stored list merges theme by theme.
    if (m_userDefaults)
        m_userDefaults->mergeByRecords(kThemes, [](const QVariant& record) {
            return record.toMap().value(QStringLiteral("id")).toString();
        });
    readPreferences();
}

Settings::~Settings()
{
    if (g_shared == this) g_shared = nullptr;
}

void Settings::readPreferences()
{
    if (m_userDefaults) {
        const UserDefaults& d = *m_userDefaults;
        m_isTypewriterSoundsEnabled = d.boolValue(kTypewriterSounds);
        const QVariant scrolling = d.object(kTypewriterScrolling);
        m_isTypewriterScrollingEnabled = scrolling.typeId() == QMetaType::Bool ? scrolling.toBool() : true;
        m_isNoEditingEnabled = d.boolValue(kNoEditing);
        m_highlighting = highlightingFromRawValue(d.stringValue(kHighlighting).value_or(QString()))
                           .value_or(Highlighting::off);

        bool allRecords = false;
        const auto stored = d.arrayValue(kThemes);
        if (stored) {
            allRecords = std::all_of(stored->begin(), stored->end(),
                                     [](const QVariant& v) { return v.typeId() == QMetaType::QVariantMap; });
        }
        if (allRecords) {
            // A record that cannot be read is left out; the others stay.
            for (const QVariant& record : *stored)
                if (auto theme = Theme::make(record.toMap(), m_themes)) m_themes.push_back(std::move(theme));
        }
        if (m_themes.empty()) m_themes = builtInThemeList();

        const auto id = d.stringValue(kTheme);
        for (const auto& t : m_themes) {
            if (id && t->id == *id) {
                m_theme = t;
                break;
            }
        }
        m_editorSize = d.doubleValue(kEditorSize).value_or(712.0);
        m_isInfoViewVisible = d.boolValue(kInfoViewVisible);
        // A hand-edited file may hold any number.
        const auto lines = d.integerValue(kLibrarySummaryLines);
        m_librarySummaryLines = lines ? LibrarySummaryLines(*lines) : LibrarySummaryLines(3);
    } else {
        m_themes = builtInThemeList();
    }
    if (!m_theme) m_theme = m_themes.front();
}

void Settings::start()
{
    try {
        loadStylesheet();
    } catch (const LumoraError& error) {
        std::printf("Lumora: using the default stylesheet. %s%s%s\n",
                    error.what(), error.recoverySuggestion ? " " : "",
                    error.recoverySuggestion ? qPrintable(*error.recoverySuggestion) : "");
        std::fflush(stdout);
        updateParsedStylesheet();
    }
    if (m_isTypewriterSoundsEnabled) m_typingSounds.loadSounds();
}

QUrl Settings::introductionURL() const
{
    const QUrl url = Bundle::resourceUrl(QStringLiteral("introduction"), QStringLiteral("md"));
    if (url.isEmpty()) {
        std::fprintf(stderr, "Lumora: the bundled resource introduction.md is missing; the installation is damaged.\n");
        std::abort();
    }
    return url;
}

void Settings::write(const QString& key, const QVariant& value)
{
    if (m_userDefaults) m_userDefaults->set(key, value);
}

void Settings::removeKey(const QString& key)
{
    if (m_userDefaults) m_userDefaults->remove(key);
}

// Simple preferences ------------------------------------------------------

void Settings::setHighlighting(Highlighting h)
{
    m_highlighting = h;
    write(kHighlighting, rawValue(h));
    updateParsedStylesheet();
    emit highlightingChanged(h);
}

void Settings::toggleInfoViewVisible()
{
    m_isInfoViewVisible = !m_isInfoViewVisible;
    write(kInfoViewVisible, m_isInfoViewVisible);
    emit infoViewVisibilityChanged(m_isInfoViewVisible);
}

void Settings::setEditorSize(double size)
{
    m_editorSize = size;
    write(kEditorSize, size);
    emit editorSizeChanged(size);
}

void Settings::setTypewriterScrollingEnabled(bool enabled)
{
    m_isTypewriterScrollingEnabled = enabled;
    write(kTypewriterScrolling, enabled);
    emit typewriterScrollingChanged(enabled);
}

void Settings::setNoEditingEnabled(bool enabled)
{
    m_isNoEditingEnabled = enabled;
    write(kNoEditing, enabled);
    emit noEditingChanged(enabled);
}

void Settings::setLibrarySummaryLines(int lines)
{
    m_librarySummaryLines = lines;
    write(kLibrarySummaryLines, m_librarySummaryLines.value());
    emit librarySummaryLinesChanged(m_librarySummaryLines.value());
}

void Settings::setParagraphSpacing(ParagraphSpacing spacing)
{
    write(kParagraphSpacingFactor, rawValue(spacing));
    updateParsedStylesheet();
}

// Themes -------------------------------------------------------------------

void Settings::setTheme(const std::shared_ptr<Theme>& newTheme)
{
    if (!newTheme) return;
    if (m_userDefaults) {
        m_userDefaults->beginBatch();
        m_userDefaults->set(kTheme, newTheme->id);
        m_userDefaults->set(kAutomaticallySwitchTheme,
                          newTheme->oppositeTheme() != nullptr && newTheme->isDark == m_isSystemAppearanceDark);
        m_userDefaults->endBatch();
    }
    m_theme = newTheme;
    updateParsedStylesheet();
    emit themeChanged(m_theme);
}

void Settings::showTheme(const std::shared_ptr<Theme>& shown)
{
    if (!shown) return;
    m_theme = shown;
    updateParsedStylesheet();
    emit themeChanged(m_theme);
}

void Settings::resetTheme(int index)
{
    if (index < 0 || index >= int(m_themes.size())) return;
    const std::shared_ptr<Theme> old = m_themes[size_t(index)];
    std::shared_ptr<const Theme> builtIn;
    for (const auto& t : Theme::defaultThemes())
        if (t->id == old->id) builtIn = t;
    if (!builtIn) return;

    // The old theme leaves the list: nothing may keep pointing at it.
    old->setOppositeTheme(nullptr);
    const std::shared_ptr<Theme> fresh = Theme::make(builtIn->propertyList(), m_themes);
    m_themes[size_t(index)] = fresh;
    // The reset theme is shown, and kept as the chosen one; whether Lumora
    // follows the desktop's appearance is left as it was: resetting is an
    // edit, and deciding that anew (as setTheme does) would turn the
    // switching off whenever the reset theme does not match the appearance.
    write(kTheme, fresh->id);
    m_theme = fresh;
    updateParsedStylesheet();
    emit themeChanged(m_theme);
    saveThemes();
}

void Settings::duplicateTheme(int index)
{
    if (index < 0 || index >= int(m_themes.size())) return;
    const std::shared_ptr<Theme> source = m_themes[size_t(index)];
    const auto isTaken = [this](const QString& name) {
        return std::any_of(m_themes.begin(), m_themes.end(),
                           [&](const auto& t) { return t->id == name || t->displayName() == name; });
    };
    const QString candidate = Theme::nameForCopy(source->displayName(), localized("theme.name.copy"), isTaken);
    auto copy = Theme::make(candidate, source->foregroundColor, source->backgroundColor, source->cursorColor,
                            source->isDark);
    m_themes.insert(m_themes.begin() + index + 1, std::move(copy));
    saveThemes();
}

void Settings::renameTheme(const std::shared_ptr<Theme>& target, const QString& typedName)
{
    // Spaces around a name are never meant; a name of spaces is no name.
    const QString name = typedName.trimmed();
    if (name.isEmpty())
        throw LumoraError(localized("theme.nameEmpty.message"), localized("theme.nameEmpty.info"));
    for (const auto& t : m_themes) {
        if (t == target) continue;
        if (t->id == name || t->displayName() == name)
            throw LumoraError(localized("theme.nameExists.message"), localized("theme.nameExists.info"));
    }
    const QString oldId = target->id;
    target->id = name;
    // The chosen theme is remembered by its id: keep it chosen across
    // launches.
    if (m_userDefaults && m_userDefaults->stringValue(kTheme) == oldId) write(kTheme, name);
    saveThemes();
}

void Settings::moveThemes(const QList<int>& indexes, int destination)
{
    QList<int> rows;
    for (int i : indexes)
        if (i >= 0 && i < int(m_themes.size()) && !rows.contains(i)) rows.append(i);
    std::sort(rows.begin(), rows.end());
    ThemeList moved;
    for (int i : rows) moved.push_back(m_themes[size_t(i)]);
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) m_themes.erase(m_themes.begin() + *it);
    destination = std::clamp(destination, 0, int(m_themes.size()));
    m_themes.insert(m_themes.begin() + destination, moved.begin(), moved.end());
    saveThemes();
}

bool Settings::removeTheme(int index)
{
    if (index < 0 || index >= int(m_themes.size()) || m_themes[size_t(index)]->isBuiltIn()) return false;
    const std::shared_ptr<Theme> removed = m_themes[size_t(index)];
    removed->setOppositeTheme(nullptr);
    m_themes.erase(m_themes.begin() + index);
    // The current theme gives way to the one above it in the list.
    if (removed == m_theme) setTheme(m_themes[size_t(std::max(index - 1, 0))]);
    saveThemes();
    return true;
}

void Settings::saveThemes()
{
    if (m_userDefaults) {
        QVariantList records;
        for (const auto& t : m_themes) records.append(t->propertyList());
        m_userDefaults->set(kThemes, records);
    }
    emit themesChanged();
}

std::shared_ptr<Theme> Settings::oppositeThemeForAppearance(bool isDark) const
{
    if (m_userDefaults) {
        const QVariant automatic = m_userDefaults->object(kAutomaticallySwitchTheme);
        if (automatic.typeId() == QMetaType::Bool && !automatic.toBool()) return nullptr;
    }
    if (!m_theme || m_theme->isDark == isDark) return nullptr;
    return m_theme->oppositeTheme();
}

bool Settings::isPossibleOppositeTheme(const std::shared_ptr<Theme>& candidate, const std::shared_ptr<Theme>& edited)
{
    if (!candidate || !edited) return false;
    if (candidate->isDark == edited->isDark) return false;
    if (candidate->isBuiltIn() != edited->isBuiltIn()) return false;
    const auto opposite = candidate->oppositeTheme();
    return !opposite || opposite == edited;
}

// Stylesheet and fonts -------------------------------------------------------

MarkdownStylesheet Settings::readLinkedStylesheet(const QByteArray& bookmarkData) const
{
    const auto bookmark = Bookmark::fromData(bookmarkData);
    if (!bookmark)
        throw LumoraError(localized("stylesheet.error.link"), localized("stylesheet.error.link.info"));
    const QString name = NativePath::shownNameOf(bookmark->path());
    const auto fail = [&](const QString& detail) {
        return LumoraError(localizedFormat(QStringLiteral("stylesheet.error.message"), {name}), detail);
    };
    QString problem;
    const auto resolved = bookmark->resolve(&problem);
    if (!resolved) throw fail(problem);
    // Read with the checked reader: a named pipe or a device put in the
    // stylesheet's place would otherwise keep the start-up waiting forever.
    const auto bytes = readFileSafely(resolved->path, FileReadOptions{kMaximumStylesheetSize});
    if (!bytes) throw fail(bytes.error().recoverySuggestion);
    try {
        return MarkdownStylesheet::decode(*bytes);
    } catch (const MarkdownStylesheet::DecodingError& e) {
        throw fail(e.message() + QLatin1Char('.'));
    }
}

void Settings::setStylesheetURL(const QUrl& url)
{
    // A stylesheet linked or unlinked is used as it is: the family and size
    // chosen for the one before are forgotten first, so that what shows now
    // is what the next start shows.
    if (url.isEmpty()) {
        if (m_userDefaults) m_userDefaults->beginBatch();
        removeKey(kStylesheetUrl);
        removeKey(kCustomFont);
        removeKey(kFontSize);
        if (m_userDefaults) m_userDefaults->endBatch();
        loadStylesheet();
        return;
    }
    if (!url.isLocalFile())
        throw LumoraError(localizedFormat(QStringLiteral("stylesheet.error.message"), {url.toDisplayString()}),
                          localized("stylesheet.error.notFile"));
    QString problem;
    const auto bookmark = Bookmark::create(url.toLocalFile(), &problem);
    if (!bookmark)
        throw LumoraError(localizedFormat(QStringLiteral("stylesheet.error.message"),
                                          {NativePath::shownNameOf(NativePath::fromFileUrl(url))}),
                          problem);
    const QByteArray data = bookmark->data();
    // Read before storing the link: a file that is not a stylesheet leaves
    // the working link and stylesheet as they were.
    const MarkdownStylesheet linked = readLinkedStylesheet(data);
    if (m_userDefaults) m_userDefaults->beginBatch();
    write(kStylesheetUrl, data);
    removeKey(kCustomFont);
    removeKey(kFontSize);
    if (m_userDefaults) m_userDefaults->endBatch();
    applyStylesheet(linked);
}

void Settings::loadStylesheet()
{
    const auto data = m_userDefaults ? m_userDefaults->dataValue(kStylesheetUrl) : std::nullopt;
    if (data) applyStylesheet(readLinkedStylesheet(*data));
    else applyStylesheet(MarkdownStylesheet::defaultStylesheet());
}

void Settings::applyStylesheet(const MarkdownStylesheet& sheet)
{
    const MarkdownStylesheet& fallback = MarkdownStylesheet::defaultStylesheet();
    m_stylesheet = sheet;
    if (!isUsableSize(m_stylesheet.base.size)) m_stylesheet.base.size.reset();

    if (const auto family = m_userDefaults ? m_userDefaults->stringValue(kCustomFont) : std::nullopt)
        m_stylesheet.base.font = *family;
    else if (!m_stylesheet.base.font)
        m_stylesheet.base.font = fallback.base.font;

    const auto size = m_userDefaults ? m_userDefaults->doubleValue(kFontSize) : std::nullopt;
    if (isUsableSize(size)) setFontSize(*size);
    else if (m_stylesheet.base.size) updateParsedStylesheet();
    else setFontSize(*fallback.base.size);
}

void Settings::setCustomFont(const std::optional<QString>& family)
{
    if (family) {
        write(kCustomFont, *family);
        m_stylesheet.base.font = *family;
    } else {
        removeKey(kCustomFont);
        m_stylesheet.base.font = MarkdownStylesheet::defaultStylesheet().base.font;
    }
    updateParsedStylesheet();
}

void Settings::setFontSize(double size)
{
    if (!isUsableSize(size)) return;
    size = FontSize(size);
    write(kFontSize, size);
    // Every sized style scales with the base, so the stylesheet keeps its
    // proportions. A stylesheet without a base size was written against the
    // default stylesheet's.
    const double present = isUsableSize(m_stylesheet.base.size) ? *m_stylesheet.base.size
                                                              : *MarkdownStylesheet::defaultStylesheet().base.size;
    const double factor = size / present;
    m_stylesheet.base.size = size;
    for (auto& [name, style] : m_stylesheet.styles) {
        if (!style.size) continue;
        const double scaled = *style.size * factor;
        if (std::isfinite(scaled)) style.size = scaled;
        else style.size.reset();
    }
    updateParsedStylesheet();
}

const std::pair<QStringList, QStringList>& Settings::allFontFamilies()
{
    if (!m_allFontFamilies) {
        QStringList monospaced;
        QStringList others;
        for (const QString& family : fonts::textFamilies())
            (fonts::isFixedPitchFamily(family) ? monospaced : others).append(family);
        std::sort(monospaced.begin(), monospaced.end(), scalarLess);
        std::sort(others.begin(), others.end(), scalarLess);
        m_allFontFamilies.emplace(std::move(monospaced), std::move(others));
    }
    return *m_allFontFamilies;
}

void Settings::updateParsedStylesheet()
{
    const double alpha = m_highlighting == Highlighting::off ? highlightedTextAlpha : unhighlightedTextAlpha;
    const Color text =
        (m_theme ? m_theme->foregroundColor : Theme::defaultThemes().front()->foregroundColor).withAlpha(alpha);
    double factor = m_userDefaults ? m_userDefaults->doubleValue(kParagraphSpacingFactor).value_or(0.0) : 0.0;
    if (!std::isfinite(factor)) factor = 0.0;
    m_parsedStylesheet = std::make_shared<const ParsedMarkdownStylesheet>(m_stylesheet, text, factor);
    emit textAttributesChanged();
}

// Typing sounds -------------------------------------------------------------

void Settings::toggleTypewriterSounds()
{
    m_isTypewriterSoundsEnabled = !m_isTypewriterSoundsEnabled;
    if (m_isTypewriterSoundsEnabled) m_typingSounds.loadSounds();
    else m_typingSounds.releaseSounds();
    write(kTypewriterSounds, m_isTypewriterSoundsEnabled);
    emit typewriterSoundsChanged(m_isTypewriterSoundsEnabled);
}

} // namespace lumora
