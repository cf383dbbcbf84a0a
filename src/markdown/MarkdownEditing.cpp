#include "markdown/MarkdownEditing.h"

#include "markdown/Markdown.h"
#include "markdown/MarkdownScanner.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/text/TextBoundaries.h"

#include <algorithm>
#include <limits>

namespace lumora {

namespace {

bool isSpaceOrTab(QChar c) { return c == u' ' || c == u'\t'; }

// The item number at p (a run of decimal digits), or nothing when there is
// none or it does not fit a 64-bit integer.
std::optional<std::int64_t> numberAt(QStringView text, qsizetype p, qsizetype limit)
{
    std::int64_t n = 0;
    qsizetype i = p;
    for (; i < limit && CharacterSet::decimalDigits().contains(text[i]); ++i) {
        const int digit = text[i].digitValue();
        if (digit < 0) return std::nullopt;
        if (n > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    if (i == p) return std::nullopt;
    return n;
}

// The list item holding location, as the styling marked it and as the text
// still says it is. The stored element alone may be stale (the text changed
// since it was styled, or Markdown was switched off), so the paragraph is
// classified again and only a list item both ways counts.
struct ListParagraph {
    text::ParagraphBounds bounds;
    Markdown element;
};

std::optional<ListParagraph> listParagraphAt(const TextStorage& storage, qsizetype location)
{
    if (storage.length() == 0) return std::nullopt;
    const qsizetype index = std::clamp<qsizetype>(location, 0, storage.length() - 1);
    const std::optional<Markdown> stored = Markdown::unboxed(storage.attribute(AttributeKey::FullLineMarkdown, index));
    if (!stored || !stored->isList()) return std::nullopt;
    const text::ParagraphBounds bounds = storage.paragraphBounds(Range(index, 0));
    const auto line = markdownLineElement(storage.stringBefore(bounds.end), bounds.start, bounds.end - bounds.start);
    if (!line || !line->element.isList()) return std::nullopt;
    return ListParagraph{bounds, line->element};
}

} // namespace

std::optional<MarkdownEdit> listContinuation(QStringView text, Range editedRange)
{
    const qsizetype location = editedRange.location;
    if (location < 0 || editedRange.end() > text.size()) return std::nullopt;
    // One line break: a newline character, or "\r\n" in a file that uses it.
    const qsizetype breakLength = editedRange.length;
    const bool lineBreak = (breakLength == 1 && text::isNewline(text[location].unicode()))
        || (breakLength == 2 && text[location] == u'\r' && text[location + 1] == u'\n');
    if (!lineBreak) return std::nullopt;

    const text::ParagraphBounds line = text::paragraphBounds(text, Range(location, 0));
    const qsizetype start = line.start;
    const auto classified = markdownLineElement(text, start, line.end - start);
    if (!classified) return std::nullopt;
    const Markdown& element = classified->element;
    const qsizetype contentStart = classified->contentStart;
    const Markdown::Kind kind = element.kind();
    const bool continues = element.isList() || kind == Markdown::Kind::Blockquote || kind == Markdown::Kind::Codeblock;
    if (!continues) return std::nullopt;

    if (start + contentStart == location) {
        // Return on an item that holds only its prefix ends the list: the
        // prefix goes and the break stays, so that a blank line stands
        // between the list and what is typed next. Without it the next line
        // would go on with the last item's text (or the quote's) in every
        // conversion.
        return MarkdownEdit{QString(), Range(start, contentStart), Range(start + breakLength, 0)};
    }

    QString prefix;
    if (kind == Markdown::Kind::OrderedList) {
        qsizetype indent = 0;
        while (start + indent < location && isSpaceOrTab(text[start + indent])) ++indent;
        const std::optional<std::int64_t> number = numberAt(text, start + indent, location);
        if (!number || *number == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
        prefix = text.sliced(start, indent).toString() + QString::number(*number + 1)
            + text.sliced(start + contentStart - 2, 2).toString();
    } else {
        prefix = text.sliced(start, contentStart).toString();
    }
    const qsizetype next = location + breakLength;
    return MarkdownEdit{prefix, Range(next, 0), Range(next + prefix.size(), 0)};
}

std::optional<MarkdownEdit> fenceClosing(QStringView text, Range editedRange,
                                         const std::function<const CodeFences&()>& fences)
{
    if (editedRange.length < 1 || editedRange.location < 0 || editedRange.end() > text.size()) return std::nullopt;
    const QChar marker = text[editedRange.location];
    if (marker != u'`' && marker != u'~') return std::nullopt;
    for (qsizetype i = editedRange.location; i < editedRange.end(); ++i)
        if (text[i] != marker) return std::nullopt;

    // The line: indentation, then the marker run up to its end, the typed
    // characters at the run's end.
    const text::ParagraphBounds line = text::paragraphBounds(text, Range(editedRange.location, 0));
    if (editedRange.end() != line.contentsEnd || line.start == 0) return std::nullopt;
    qsizetype run = 0;
    while (line.contentsEnd - run > line.start && text[line.contentsEnd - run - 1] == marker) ++run;
    const qsizetype runStart = line.contentsEnd - run;
    const qsizetype indent = runStart - line.start;
    if (indent == 0 || !std::all_of(text.begin() + line.start, text.begin() + runStart, isSpaceOrTab))
        return std::nullopt;
    if (fenceLine(text, line.start, line.contentsEnd)) return std::nullopt; // it closes as it stands

    // That indentation is what Return carries from the line above: all of
    // that code line's indentation.
    const text::ParagraphBounds above = text::paragraphBounds(text, Range(line.start - 1, 0));
    const auto classified = markdownLineElement(text, above.start, above.end - above.start);
    if (!classified || classified->element.kind() != Markdown::Kind::Codeblock || classified->contentStart != indent
        || text.sliced(above.start, indent) != text.sliced(line.start, indent))
        return std::nullopt;

    // The block is open, of this marker, and the run has just become long
    // enough to close it.
    const auto opening = fences().openingBefore(line.start);
    if (!opening || opening->line.marker != marker.unicode() || run < opening->line.count
        || run - editedRange.length >= opening->line.count)
        return std::nullopt;
    const QString openerIndent(opening->line.indent, u' ');
    const qsizetype caret = line.contentsEnd - indent + openerIndent.size();
    return MarkdownEdit{openerIndent, Range(line.start, indent), Range(caret, 0)};
}

std::optional<IndentationEdit> indentListItem(const TextStorage& storage, qsizetype location)
{
    const std::optional<ListParagraph> item = listParagraphAt(storage, location);
    if (!item) return std::nullopt;
    const qsizetype start = item->bounds.start;
    const bool spaces = storage.characterAt(start) == u' ';
    return IndentationEdit{Range(start, 0), spaces ? QStringLiteral("    ") : QStringLiteral("\t")};
}

std::optional<IndentationEdit> outdentListItem(const TextStorage& storage, qsizetype location)
{
    const std::optional<ListParagraph> item = listParagraphAt(storage, location);
    if (!item || item->element.level() < 1) return std::nullopt;
    const QStringView text = storage.stringBefore(item->bounds.end);
    const qsizetype start = item->bounds.start;
    // Remove only what is really there: four spaces, or one tab.
    if (skipCharacters(text, Markdown::spaceCharacters(), start, item->bounds.end) >= 4)
        return IndentationEdit{Range(start, 4), QString()};
    if (start < text.size() && text[start] == u'\t') return IndentationEdit{Range(start, 1), QString()};
    return std::nullopt;
}

} // namespace lumora
