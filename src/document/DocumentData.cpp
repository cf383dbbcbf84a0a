#include "document/DocumentData.h"

#include "document/DocumentEditor.h"
#include "markdown/Markdown.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "markdown/ProgressiveRestyle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/TextBoundaries.h"
#include "settings/SaveEncoding.h"
#include "settings/Settings.h"

#include <QLocale>

#include <algorithm>

namespace lumora {

namespace {

const QString kEnableMarkdown = QStringLiteral("enableMarkdown");
// Texts up to this long are restyled whole at once (a few milliseconds).
constexpr qsizetype kRestyledAtOnce = 128 * 1024;

QString number(qint64 value)
{
    return QLocale().toString(value);
}

} // namespace

DocumentData::DocumentData()
{
    const QVariant stored = UserDefaults::standard().object(kEnableMarkdown);
    enableMarkdown = stored.typeId() == QMetaType::Bool ? stored.toBool() : true;
    if (enableMarkdown) Markdown::prepareCharacterSets();
}

DocumentData::~DocumentData() = default;

std::optional<StringEncoding> DocumentData::encoding() const
{
    if (!m_format) return std::nullopt;
    return m_format->encoding;
}

// Statistics --------------------------------------------------------------

QString DocumentData::readingTime(qint64 words)
{
    // 250 words a minute, in whole seconds; the largest unit that is not
    // zero, and the next one when it is not zero either.
    const double seconds = double(words * 60) / 250.0;
    const qint64 total = qint64(seconds);
    struct Unit {
        qint64 seconds;
        const char* key;
    };
    static const Unit units[] = {{3600, "time.short.hours"}, {60, "time.short.minutes"}, {1, "time.short.seconds"}};
    auto part = [](const Unit& unit, qint64 count) {
        return localizedFormat(QString::fromLatin1(unit.key), {number(count)});
    };
    for (size_t i = 0; i < std::size(units); ++i) {
        const qint64 count = total / units[i].seconds;
        if (count == 0) continue;
        QString text = part(units[i], count);
        if (i + 1 < std::size(units)) {
            const qint64 next = (total % units[i].seconds) / units[i + 1].seconds;
            if (next > 0) text = localizedFormat(QStringLiteral("time.short.list"), {text, part(units[i + 1], next)});
        }
        return text;
    }
    return part(units[std::size(units) - 1], 0);
}

QString DocumentData::documentStatistics(Range range) const
{
    const qsizetype length = m_textStorage.length();
    if (range.length == 0) range = Range(0, length);
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype end = std::clamp<qsizetype>(range.location + range.length, start, length);
    range = Range(start, end - start);
    return statisticsLine(wordCount(m_textStorage.stringBefore(end), range), range.length);
}

qint64 DocumentData::wordCount(QStringView text, Range range)
{
    qint64 words = 0;
    text::enumerateSubstrings(text, range, text::Unit::Words, text::Direction::Forward, [&words](Range, Range) {
        ++words;
        return true;
    });
    return words;
}

QString DocumentData::statisticsLine(qint64 words, qsizetype characters)
{
    // The format is fixed, not taken from the strings table.
    return QStringLiteral("Words: %1, Characters: %2, Reading: %3")
        .arg(number(words), number(characters), readingTime(words));
}

// Reading and writing ------------------------------------------------------

PlatformStatus DocumentData::readDocument(QByteArrayView bytes, const QString& filePath,
                                          std::optional<StringEncoding> preferred)
{
    // Decoding touches nothing shared and may run on the caller's thread;
    // the storage is the main thread's.
    auto decoded = TextFileCodec::read(bytes, preferred.value_or(preferredSaveEncoding()), filePath);
    if (!decoded) return decoded.error();
    dispatch::syncMain([&] { replaceText(std::move(*decoded)); });
    return {};
}

void DocumentData::replaceText(DecodedText decoded)
{
    // The new text starts without attributes: nothing of the old text's
    // styling or Markdown marks may stay on it.
    m_textStorage.beginEditing();
    m_textStorage.replaceCharacters(Range(0, m_textStorage.length()), decoded.text, Attributes{});
    if (m_editors.empty()) {
        // Styled when the first window attaches.
        textStorageInvalidated = true;
    } else {
        styleWholeText();
    }
    m_textStorage.endEditing();
    m_format = decoded.format;
}

PlatformStatus DocumentData::replaceDocument(QByteArrayView bytes, UndoManager& undo, const QString& filePath,
                                             std::optional<StringEncoding> preferred)
{
    auto decoded = TextFileCodec::read(bytes, preferred.value_or(preferredSaveEncoding()), filePath);
    if (!decoded) return decoded.error();
    const QString& old = m_textStorage.string();
    const QString& text = decoded->text;
    // The stretch that differs, never splitting a surrogate pair.
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(old.size(), text.size());
    while (prefix < shorter && old.at(prefix) == text.at(prefix)) ++prefix;
    if (prefix > 0 && old.at(prefix - 1).isHighSurrogate()) --prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && old.at(old.size() - 1 - suffix) == text.at(text.size() - 1 - suffix)) ++suffix;
    if (suffix > 0 && old.at(old.size() - suffix).isLowSurrogate()) --suffix;
    const Range range(prefix, old.size() - prefix - suffix);
    const QString replacement = text.mid(prefix, text.size() - prefix - suffix);
    m_format = decoded->format;
    if (range.length == 0 && replacement.isEmpty()) return {};
    const QString replaced = old.mid(range.location, range.length);

    m_textStorage.beginEditing();
    m_textStorage.replaceCharacters(range, replacement, Attributes{});
    if (m_editors.empty()) textStorageInvalidated = true;
    else restyleParagraphs(m_textStorage, *Settings::shared().parsedStylesheet(), Range(prefix, replacement.size()),
                           enableMarkdown);
    m_textStorage.endEditing();
    undo.breakCoalescing();
    undo.recordReplacement({range, replaced, replacement, Range(prefix, 0), Range(prefix + replacement.size(), 0)});
    undo.breakCoalescing();
    return {};
}

PlatformResult<QByteArray> DocumentData::documentFileData(const std::optional<TextFileFormat>& given) const
{
    const TextFileFormat format = given ? *given : m_format ? *m_format : TextFileFormat::forEncoding(preferredSaveEncoding());
    auto encoded = TextFileCodec::write(m_textStorage.string(), format);
    if (!encoded) return encoded.error();
    return std::move(encoded->bytes);
}

// Styling ----------------------------------------------------------------

void DocumentData::styleWholeText()
{
    // A restyle in the background is superseded.
    m_restyle.reset();
    // Every paragraph back to the base style, then, with Markdown on, each
    // styled with its line break, in one editing bracket.
    restyleParagraphs(m_textStorage, *Settings::shared().parsedStylesheet(), Range(0, m_textStorage.length()),
                      enableMarkdown);
}

void DocumentData::toggleMarkdown()
{
    enableMarkdown = !enableMarkdown;
    UserDefaults::standard().set(kEnableMarkdown, enableMarkdown);
    if (enableMarkdown) Markdown::prepareCharacterSets();
    textStorageInvalidated = true;
    if (!m_editors.empty()) restyleTextStorage();
}

void DocumentData::restyleTextStorage(const std::vector<Range>& first, std::function<qsizetype()> focus)
{
    if (!textStorageInvalidated) return;
    if (first.empty() || m_textStorage.length() <= kRestyledAtOnce) {
        styleWholeText();
    } else {
        m_restyle = std::make_unique<ProgressiveRestyle>(m_textStorage, Settings::shared().parsedStylesheet(),
                                                         enableMarkdown);
        m_restyle->focus = std::move(focus);
        // Typing takes the looks of the text around the caret, which may
        // have been restyled only now; while focus highlighting is on, what
        // was restyled since has the dimmed colours of the stylesheet, also
        // where the focus lies (a selection keeps all of it in focus).
        m_restyle->finished = [this] {
            const bool highlighting = Settings::shared().highlighting() != Settings::Highlighting::off;
            const std::vector<DocumentEditor*> editors = m_editors;
            for (DocumentEditor* editor : editors) {
                if (highlighting) editor->updateHighlightAttributes();
                editor->updateTypingAttributes();
            }
        };
        m_restyle->start(first);
    }
    // A copy: an editor may detach while it refreshes.
    const std::vector<DocumentEditor*> editors = m_editors;
    for (DocumentEditor* editor : editors) {
        editor->updateHighlightAttributes();
        editor->updateTypingAttributes();
    }
    textStorageInvalidated = false;
}

bool DocumentData::isRestyling() const { return m_restyle && !m_restyle->isFinished(); }

void DocumentData::finishRestyling()
{
    if (m_restyle) m_restyle->finish();
}

} // namespace lumora
