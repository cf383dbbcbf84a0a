#pragma once

#include "markdown/FocusHighlighting.h"
#include "markdown/MarkdownStylesheet.h"
#include "platform/foundation/Bounded.h"
#include "settings/Theme.h"
#include "settings/TypingSounds.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace lumora {

class ParsedMarkdownStylesheet;
class UserDefaults;

// The one preferences object of the process. It reads every preference from
// the user defaults once, when it is made; each setter writes its key at once
// (when there is a store) and then announces the change by its signal, even
// when the value stayed the same. Each signal is emitted synchronously, after
// the change is complete; its comment names the change notification it
// stands for ("LMThemeDidChange", ...).
//
// No defaults are registered: each reader applies its own default when a key
// is absent or holds a value of another type.
//
// Main thread only.
class Settings : public QObject {
    Q_OBJECT
public:
    // Focus highlighting, the engine's mode. Raw values "off", "sentence",
    // "paragraph".
    using Highlighting = lumora::Highlighting;
    // Editor column width in points. Raw values 712, 968 and 0 (the full
    // width of the screen).
    enum class EditorSize { s, m, l };
    // Extra space after paragraphs, in lines. Raw values 0, 0.5 and 1.
    enum class ParagraphSpacing { defaultSpacing, halfLine, oneLine };

    static constexpr std::array<EditorSize, 3> allEditorSizes{EditorSize::s, EditorSize::m, EditorSize::l};
    static constexpr std::array<ParagraphSpacing, 3> allParagraphSpacings{
        ParagraphSpacing::defaultSpacing, ParagraphSpacing::halfLine, ParagraphSpacing::oneLine};

    // Raw values, and cases from raw values on an exact match only.
    static QString rawValue(Highlighting highlighting);
    static std::optional<Highlighting> highlightingFromRawValue(const QString& rawValue);
    static double rawValue(EditorSize size);
    static std::optional<EditorSize> editorSizeFromRawValue(double rawValue);
    static double rawValue(ParagraphSpacing spacing);
    static std::optional<ParagraphSpacing> paragraphSpacingFromRawValue(double rawValue);

    // The process's instance over the standard user defaults, made on first
    // use. It is published before it loads its stylesheet and sounds: code
    // run by that loading (a listener of the changes it announces among
    // them) that asks for the instance gets it, instead of making another.
    static Settings& shared();

    // A settings object over a store; with none, every default applies and
    // nothing is written (changes are still announced).
    explicit Settings(UserDefaults* userDefaults);
    ~Settings() override;

    // The store the preferences are read from and written to; none when
    // nothing is stored.
    UserDefaults* userDefaults() const { return m_userDefaults; }

    // Fixed display values.
    static constexpr double scrollerAlpha = 0.3;
    static constexpr double fullscreenVerticalInsetFraction = 0.5; // of the screen height
    static constexpr double windowedVerticalInset = 60.0;          // points
    // The base font size in points: the text-size commands step within it,
    // and a stored size outside it (a hand-edited file) is brought inside,
    // since it would make the text unreadable or too large to lay out.
    using FontSize = Bounded<double, 10.0, 30.0>;
    static constexpr double minimumFontSize = FontSize::minimum;
    static constexpr double maximumFontSize = FontSize::maximum;
    // Summary lines under each library row; the library menu offers each.
    using LibrarySummaryLines = Bounded<int, 0, 3>;
    static constexpr std::array<int, 4> librarySummaryLinesOptions{0, 1, 2, 3};
    static_assert(librarySummaryLinesOptions.front() == LibrarySummaryLines::minimum &&
                  librarySummaryLinesOptions.back() == LibrarySummaryLines::maximum);

    bool isNoEditingEnabled() const { return m_isNoEditingEnabled; }                     // "noEditing"
    bool isTypewriterSoundsEnabled() const { return m_isTypewriterSoundsEnabled; }       // "typewriterSounds"
    Highlighting highlighting() const { return m_highlighting; }                         // "highlighting"
    bool isTypewriterScrollingEnabled() const { return m_isTypewriterScrollingEnabled; } // "typewriterScrolling"
    // The stylesheet in use, with the preferred font family and size applied
    // ("stylesheetUrl", "customFont", "fontSize").
    const MarkdownStylesheet& stylesheet() const { return m_stylesheet; }
    // Ready text attributes, replaced whole on every change of the text
    // attributes; never null after construction.
    const std::shared_ptr<const ParsedMarkdownStylesheet>& parsedStylesheet() const { return m_parsedStylesheet; }
    // The current theme ("theme"); never null after construction.
    const std::shared_ptr<Theme>& theme() const { return m_theme; }
    double editorSize() const { return m_editorSize; }                                   // "editorSize"
    bool isInfoViewVisible() const { return m_isInfoViewVisible; }                       // "infoViewVisible"
    int librarySummaryLines() const { return m_librarySummaryLines.value(); }            // "librarySummaryLines"
    const ThemeList& themes() const { return m_themes; }                                 // "themes"
    // Whether the desktop is dark; set by the appearance observer of the
    // window shell. Not a preference: nothing is written or announced.
    bool isSystemAppearanceDark() const { return m_isSystemAppearanceDark; }
    void setSystemAppearanceDark(bool isDark) { m_isSystemAppearanceDark = isDark; }

    // Typing sounds ------------------------------------------------------

    // The sounds, loaded while "typewriterSounds" is on.
    TypingSounds& typingSounds() { return m_typingSounds; }
    const TypingSounds& typingSounds() const { return m_typingSounds; }
    // Turns typing sounds on (loading them) or off (releasing them), writes
    // "typewriterSounds" and emits typewriterSoundsChanged.
    void toggleTypewriterSounds();

    // The bundled introduction document; its absence stops the program.
    QUrl introductionURL() const;

    // Rebuilds the text attributes (their alpha follows the mode), then
    // emits highlightingChanged.
    void setHighlighting(Highlighting highlighting);
    void toggleInfoViewVisible();

    // The window commands' preferences, written and announced in one place.
    void setEditorSize(double size);
    void setTypewriterScrollingEnabled(bool enabled);
    void toggleTypewriterScrolling() { setTypewriterScrollingEnabled(!m_isTypewriterScrollingEnabled); }
    void setNoEditingEnabled(bool enabled);
    void toggleNoEditing() { setNoEditingEnabled(!m_isNoEditingEnabled); }
    void setLibrarySummaryLines(int lines); // brought within LibrarySummaryLines
    void setParagraphSpacing(ParagraphSpacing spacing); // rebuilds the text attributes

    // Themes ------------------------------------------------------------

    // Selects a theme: writes "theme" and whether to follow the system
    // appearance, rebuilds the text attributes, emits themeChanged.
    void setTheme(const std::shared_ptr<Theme>& theme);
    // Makes a theme current without choosing it, as the switch with the
    // system appearance does: nothing is written; rebuilds the text
    // attributes and emits themeChanged.
    void showTheme(const std::shared_ptr<Theme>& theme);
    // Restores a built-in theme's colours and makes it current (written
    // under "theme"); "automaticallySwitchTheme" stays as it was. Nothing for
    // a theme that is not built in or an index outside the list.
    void resetTheme(int index);
    // Inserts a copy after the theme, named by the "theme.name.copy" format.
    void duplicateTheme(int index);
    // Renames a theme to the name without the spaces around it; throws
    // LumoraError when that is empty or another theme has it as id or
    // display name.
    void renameTheme(const std::shared_ptr<Theme>& theme, const QString& name);
    // Moves the themes at the rows to the destination, an index into the list
    // without them.
    void moveThemes(const QList<int>& indexes, int destination);
    // Removes a theme that is not built in, clearing every link to it; the
    // theme above it becomes current when it was. Saves the list. False when
    // nothing was removed.
    bool removeTheme(int index);
    // Writes the list and emits themesChanged.
    void saveThemes();
    // Replaces the list whole. Like the themes editor's edits of a theme in
    // place, it is written and announced by the next saveThemes(). The
    // current theme stays as it is.
    void setThemes(ThemeList themes) { m_themes = std::move(themes); }
    // The theme to switch to when the system appearance becomes dark (or
    // light), or none.
    std::shared_ptr<Theme> oppositeThemeForAppearance(bool isDark) const;
    // Whether the themes editor offers candidate as opposite of theme.
    static bool isPossibleOppositeTheme(const std::shared_ptr<Theme>& candidate,
                                        const std::shared_ptr<Theme>& theme);

    // Stylesheet and fonts -----------------------------------------------

    // Links a stylesheet file (a file URL), or unlinks with an empty URL, and
    // uses it as it is: the chosen family and size ("customFont",
    // "fontSize") are forgotten. A file that cannot be linked or loaded
    // changes nothing: the previous link, choices and stylesheet stay.
    // Throws LumoraError.
    void setStylesheetURL(const QUrl& url);
    // Loads the linked stylesheet, or the default one when none is linked,
    // and applies it. Throws LumoraError when the linked one cannot be used.
    void loadStylesheet();
    // Makes the stylesheet the one in use, with the preferred family and size.
    void applyStylesheet(const MarkdownStylesheet& stylesheet);
    // Sets the base font family; none restores the default stylesheet's.
    void setCustomFont(const std::optional<QString>& family);
    // Sets the base size, brought within FontSize, and scales every sized
    // style with it. A size that is not a positive finite number changes
    // nothing.
    void setFontSize(double size);
    // (monospaced families, other families), each sorted; made on first use.
    const std::pair<QStringList, QStringList>& allFontFamilies();
    // Rebuilds the parsed stylesheet and emits textAttributesChanged.
    void updateParsedStylesheet();

signals:
    // The current theme changed ("LMThemeDidChange"); the text attributes
    // were rebuilt for it first.
    void themeChanged(const std::shared_ptr<Theme>& theme);
    // The theme list was saved ("LMThemesDidChange").
    void themesChanged();
    // The focus-highlighting mode changed ("LMHighlightingDidChange"); the
    // text attributes were rebuilt for it first.
    void highlightingChanged(lumora::Highlighting highlighting);
    // The editor column width changed ("LMEditorSizeDidChange").
    void editorSizeChanged(double size);
    // The statistics line was shown or hidden ("LMInfoViewVisibilityDidChange").
    void infoViewVisibilityChanged(bool visible);
    // The parsed stylesheet was rebuilt ("LMTextAttributesDidChange"):
    // listeners read parsedStylesheet() again.
    void textAttributesChanged();
    // The number of summary lines per library row changed
    // ("LibrarySummaryLinesDidChange").
    void librarySummaryLinesChanged(int lines);
    // The three toggles were never announced by a notification: their
    // readers ask for the value when they need it.
    void typewriterScrollingChanged(bool enabled);
    void noEditingChanged(bool enabled);
    void typewriterSoundsChanged(bool enabled);

private:
    friend struct SettingsTestAccess;
    struct DeferStart {};
    // Makes the shared instance: publishes it, lets beforeStart (when
    // given) see it, then loads its stylesheet and sounds.
    static Settings& makeShared(const std::function<void(Settings&)>& beforeStart);
    Settings(UserDefaults* userDefaults, DeferStart);
    void readPreferences();
    void start();
    void write(const QString& key, const QVariant& value);
    void removeKey(const QString& key);
    MarkdownStylesheet readLinkedStylesheet(const QByteArray& bookmarkData) const;

    UserDefaults* const m_userDefaults;
    bool m_isNoEditingEnabled = false;
    bool m_isTypewriterSoundsEnabled = false;
    Highlighting m_highlighting = Highlighting::off;
    bool m_isTypewriterScrollingEnabled = true;
    MarkdownStylesheet m_stylesheet;
    std::shared_ptr<const ParsedMarkdownStylesheet> m_parsedStylesheet;
    std::shared_ptr<Theme> m_theme;
    double m_editorSize = 712.0;
    bool m_isInfoViewVisible = false;
    LibrarySummaryLines m_librarySummaryLines = 3;
    ThemeList m_themes;
    bool m_isSystemAppearanceDark = false;
    std::optional<std::pair<QStringList, QStringList>> m_allFontFamilies;
    TypingSounds m_typingSounds;
};

} // namespace lumora
