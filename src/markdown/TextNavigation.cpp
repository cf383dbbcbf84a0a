#include "markdown/TextNavigation.h"

#include "markdown/MarkdownScanner.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/text/TextBoundaries.h"

namespace lumora {

namespace {

using text::Direction;
using text::Unit;

bool isSpaceAt(QStringView s, qsizetype i)
{
    return i >= 0 && i < s.size() && text::isWhitespaceOrNewline(s[i].unicode());
}

// Start of the last unit inside (0, j); 0 when there is none.
qsizetype lastUnitStart(QStringView s, qsizetype j, Unit unit)
{
    qsizetype start = 0;
    text::enumerateSubstrings(s, Range(0, j), unit, Direction::Reverse, [&](Range sub, Range) {
        start = sub.location;
        return false;
    });
    return start;
}

// End of the first unit from start on; start when there is none.
qsizetype firstUnitEnd(QStringView s, qsizetype start, Unit unit)
{
    qsizetype end = start;
    text::enumerateSubstrings(s, Range(start, s.size() - start), unit, Direction::Forward, [&](Range sub, Range) {
        end = sub.end();
        return false;
    });
    return end;
}

struct Break {
    qsizetype start = -1;
    qsizetype length = 0;
    bool exists() const { return start >= 0; }
};

// The whole line break that the line break character at i belongs to: the
// "\n" of a "\r\n" starts at the "\r".
Break breakAt(QStringView s, qsizetype i)
{
    if (s[i] == u'\n' && i > 0 && s[i - 1] == u'\r') return {i - 1, 2};
    return {i, text::lineBreakLength(s, i)};
}

// The last line break that starts before p.
Break lastBreakBefore(QStringView s, qsizetype p)
{
    for (qsizetype i = std::min(p, s.size()) - 1; i >= 0; --i)
        if (text::isNewline(s[i].unicode())) return breakAt(s, i);
    return {};
}

// The first line break at or after p (one that p cuts in two counts whole).
Break firstBreakAtOrAfter(QStringView s, qsizetype p)
{
    for (qsizetype i = std::max<qsizetype>(p, 0); i < s.size(); ++i)
        if (text::isNewline(s[i].unicode())) return breakAt(s, i);
    return {};
}

} // namespace

qsizetype focusIndex(QStringView text, qsizetype index)
{
    if (index > 0 && index < text.size() && isSpaceAt(text, index - 1)) return index + 1;
    return index;
}

Range sentenceFocusRange(QStringView text, qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, text.size());
    const qsizetype j = focusIndex(text, index);
    const qsizetype start = lastUnitStart(text, j, Unit::Sentences);
    const qsizetype end = firstUnitEnd(text, start, Unit::Sentences);
    return Range(start, end - start);
}

Range sentenceRange(QStringView text, qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, text.size());
    const Range found = sentenceFocusRange(text, index);
    qsizetype start = found.location;
    qsizetype end = found.end();
    if (end == index || (end == index + 1 && isSpaceAt(text, index))) {
        start = end;
        end = firstUnitEnd(text, start, Unit::Sentences);
    }
    if (end > start && isSpaceAt(text, end - 1)) end -= 1;
    return Range(start, std::max<qsizetype>(end - start, 0));
}

Range paragraphRange(QStringView text, qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, text.size());
    const qsizetype j = focusIndex(text, index);
    const qsizetype start = lastUnitStart(text, j, Unit::Paragraphs);
    const qsizetype end = firstUnitEnd(text, start, Unit::Paragraphs);
    return Range(start, end - start);
}

std::optional<LineMove> lineMovedUp(QStringView text, Range selection)
{
    const Break above = lastBreakBefore(text, selection.location);
    if (!above.exists()) return std::nullopt; // the first line
    const Break after = firstBreakAtOrAfter(text, selection.end());
    const qsizetype end = after.exists() ? after.start : text.size();
    const Break before = lastBreakBefore(text, above.start);
    LineMove move;
    if (before.exists()) {
        move.text = text.sliced(above.start, end - above.start).toString();
        move.insertion = Range(before.start, 0);
        move.selectionShift = before.start - above.start;
    } else {
        const qsizetype linesStart = above.start + above.length;
        move.text = text.sliced(linesStart, end - linesStart).toString()
            + text.sliced(above.start, above.length).toString();
        move.insertion = Range(0, 0);
        move.selectionShift = -linesStart;
    }
    move.removal = Range(end, end - above.start);
    return move;
}

std::optional<LineMove> lineMovedDown(QStringView text, Range selection)
{
    const Break after = firstBreakAtOrAfter(text, selection.end());
    if (!after.exists()) return std::nullopt; // the last line
    const Break before = lastBreakBefore(text, selection.location);
    LineMove move;
    if (before.exists() && before.start < after.start) {
        move.text = text.sliced(before.start, after.start - before.start).toString();
        move.removal = Range(before.start, after.start - before.start);
    } else {
        move.text = text.sliced(after.start, after.length).toString() + text.first(after.start).toString();
        move.removal = Range(0, after.start + after.length);
    }
    const Break next = firstBreakAtOrAfter(text, after.start + after.length);
    const qsizetype insertion = next.exists() ? next.start : text.size();
    move.insertion = Range(insertion, 0);
    move.selectionShift = insertion - after.start;
    return move;
}

// The caret never stands inside a "\r\n": a place between the two goes
// before them.
qsizetype beforeSplitBreak(QStringView text, qsizetype p)
{
    return (p > 0 && p < text.size() && text[p - 1] == u'\r' && text[p] == u'\n') ? p - 1 : p;
}

qsizetype previousSentenceTarget(QStringView text, qsizetype c)
{
    c = std::clamp<qsizetype>(c, 0, text.size());
    const qsizetype j = (c > 0 && c < text.size() && isSpaceAt(text, c - 1)) ? c + 1 : c;
    const qsizetype s = lastUnitStart(text, j, Unit::Sentences);
    if (s == 0) return 0;
    return beforeSplitBreak(text, isSpaceAt(text, s - 1) ? s - 1 : s);
}

qsizetype nextSentenceTarget(QStringView text, qsizetype e)
{
    return beforeSplitBreak(text, sentenceRange(text, e).end());
}

qsizetype previousParagraphTarget(QStringView text, qsizetype c)
{
    c = std::clamp<qsizetype>(c, 0, text.size());
    qsizetype p = c;
    if (c > 0 && text::isNewline(text[c - 1].unicode())) p = breakAt(text, c - 1).start;
    const Break before = lastBreakBefore(text, p);
    return before.exists() ? before.start + before.length : 0;
}

qsizetype nextParagraphTarget(QStringView text, qsizetype e)
{
    e = std::clamp<qsizetype>(e, 0, text.size());
    qsizetype q = e;
    if (e < text.size() && text::isNewline(text[e].unicode())) q = e + text::lineBreakLength(text, e);
    const Break next = firstBreakAtOrAfter(text, q);
    return next.exists() ? next.start : text.size();
}

std::optional<QString> titleFromFirstSentence(QStringView text, bool strip)
{
    const qsizetype end = firstUnitEnd(text, 0, Unit::Sentences);
    qsizetype from = 0;
    if (strip) {
        if (const auto line = markdownLineElement(text, 0, end)) from = std::min(line->contentStart, end);
    }
    qsizetype to = end;
    while (to > from && isSpaceAt(text, to - 1)) --to;
    const qsizetype length = to - from;
    if (length < 1 || length > 99) return std::nullopt;
    return text.sliced(from, length).toString();
}

} // namespace lumora
