#include "markdown/SyntaxRanges.h"

#include "markdown/Markdown.h"
#include "markdown/MarkdownScanner.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/text/TextBoundaries.h"

#include <algorithm>

namespace lumora {

namespace {

// How far from a typed character isInsideSyntax() looks in a long paragraph.
constexpr qsizetype kNearby = 2000;

bool isBlank(QChar c) { return text::isWhitespace(c.unicode()) || text::isNewline(c); }

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

qsizetype runLength(QStringView text, qsizetype at, qsizetype end, QChar c)
{
    qsizetype n = 0;
    while (at + n < end && text[at + n] == c) ++n;
    return n;
}

// Where the code span whose opening run of n backticks ends at from closes
// (the start of the closing run), or -1.
qsizetype closingBackticks(QStringView text, qsizetype from, qsizetype end, qsizetype n)
{
    qsizetype i = from;
    while (i < end) {
        if (text[i] != u'`') {
            ++i;
            continue;
        }
        const qsizetype run = runLength(text, i, end, u'`');
        if (run == n) return i;
        i += run;
    }
    return -1;
}

// The end of the code span that the run of backticks at at opens (after its
// closing run), or -1 when nothing on the stretch closes it; run is the
// length of the opening run.
qsizetype codeSpanEnd(QStringView text, qsizetype at, qsizetype end, qsizetype& run)
{
    run = runLength(text, at, end, u'`');
    const qsizetype close = closingBackticks(text, at + run, end, run);
    return close < 0 ? -1 : close + run;
}

// The end of an HTML tag, comment or automatic link opening at at, or -1.
qsizetype htmlEnd(QStringView text, qsizetype at, qsizetype end)
{
    if (at + 1 >= end) return -1;
    const QChar next = text[at + 1];
    if (!isAsciiLetter(next) && next != u'/' && next != u'!' && next != u'?') return -1;
    if (text.sliced(at).startsWith(u"<!--")) {
        const qsizetype close = text.first(end).indexOf(u"-->", at + 4);
        return close < 0 ? -1 : close + 3;
    }
    const qsizetype close = text.first(end).indexOf(u'>', at + 1);
    return close < 0 ? -1 : close + 1;
}

qsizetype entityEnd(QStringView text, qsizetype at, qsizetype end)
{
    qsizetype i = at + 1;
    const qsizetype limit = std::min(end, at + 32);
    if (i < limit && text[i] == u'#') {
        ++i;
        const bool hex = i < limit && (text[i] == u'x' || text[i] == u'X');
        if (hex) ++i;
        const qsizetype digits = i;
        while (i < limit && (text[i].isDigit() || (hex && QStringView(u"abcdefABCDEF").contains(text[i])))) ++i;
        if (i == digits) return -1;
    } else {
        const qsizetype letters = i;
        while (i < limit && (isAsciiLetter(text[i]) || text[i].isDigit())) ++i;
        if (i == letters) return -1;
    }
    return i < limit && text[i] == u';' ? i + 1 : -1;
}

// A web or mail address starting at at: its end, without the punctuation
// that closes the sentence around it; -1 when none starts there.
qsizetype addressEnd(QStringView text, qsizetype at, qsizetype end)
{
    static const QStringView prefixes[] = {u"https://", u"http://", u"ftp://", u"mailto:", u"www.", u"file://"};
    const QStringView rest = text.sliced(at, end - at);
    const bool starts = std::any_of(std::begin(prefixes), std::end(prefixes),
                                    [&](QStringView p) { return rest.startsWith(p, Qt::CaseInsensitive); });
    if (!starts) return -1;
    qsizetype i = at;
    while (i < end && !isBlank(text[i]) && text[i] != u'<' && text[i] != u'>') ++i;
    while (i > at && QStringView(u".,;:!?)]}'\"\u201D\u2019").contains(text[i - 1])) --i;
    return i;
}

void addRange(std::vector<Range>& ranges, qsizetype from, qsizetype to)
{
    if (to > from) ranges.emplace_back(from, to - from);
}

std::vector<Range> merged(std::vector<Range> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](Range a, Range b) { return a.location < b.location; });
    std::vector<Range> out;
    for (const Range& r : ranges) {
        if (!out.empty() && r.location <= out.back().end())
            out.back() = out.back().united(r);
        else
            out.push_back(r);
    }
    return out;
}

bool hasWhitespace(QStringView text) { return std::any_of(text.begin(), text.end(), isBlank); }

void addInlineElements(QStringView text, qsizetype from, qsizetype end, std::vector<Range>& ranges)
{
    qsizetype at = from;
    while (at < end) {
        const auto found = nextInlineMarkdown(text, at, end - at);
        if (!found) return;
        const Markdown& element = found->element;
        qsizetype next = found->range.end();
        switch (element.kind()) {
        case Markdown::Kind::Italic:
        case Markdown::Kind::Bold:
        case Markdown::Kind::ItalicAndBold:
            // Look inside the emphasis too.
            if (const auto inner = element.text()) next = inner->location;
            break;
        case Markdown::Kind::LinkInline:
            if (const auto url = element.url()) addRange(ranges, url->location - 1, std::min(url->end() + 1, end));
            if (const auto label = element.text()) next = label->location;
            break;
        case Markdown::Kind::LinkReference:
            if (const auto reference = element.reference())
                addRange(ranges, reference->location - 1, std::min(reference->end() + 1, end));
            if (const auto label = element.text()) next = label->location;
            break;
        case Markdown::Kind::FootnoteInline:
            // A label ([^note]); a note written inline ([^A few words.]) is prose.
            if (const auto inner = element.text(); inner && !hasWhitespace(text.sliced(inner->location, inner->length)))
                addRange(ranges, found->range.location, found->range.end());
            break;
        case Markdown::Kind::CitationInline:
        case Markdown::Kind::GlossaryReference:
        case Markdown::Kind::AcronymReference:
            addRange(ranges, found->range.location, found->range.end());
            break;
        default:
            break;
        }
        at = std::max(next, found->range.location + 1);
    }
}

void addCharacterSyntax(QStringView text, qsizetype start, qsizetype end, std::vector<Range>& ranges)
{
    qsizetype i = start;
    while (i < end) {
        const QChar c = text[i];
        if (c == u'\\') {
            i += 2;
            continue;
        }
        if (c == u'`') {
            qsizetype run = 0;
            const qsizetype close = codeSpanEnd(text, i, end, run);
            addRange(ranges, i, close);
            i = close >= 0 ? close : i + run;
            continue;
        }
        if (c == u'<') {
            const qsizetype close = htmlEnd(text, i, end);
            if (close > 0) {
                addRange(ranges, i, close);
                i = close;
                continue;
            }
        } else if (c == u'&') {
            const qsizetype close = entityEnd(text, i, end);
            if (close > 0) {
                addRange(ranges, i, close);
                i = close;
                continue;
            }
        } else if (c == u'@' && i > start && i + 1 < end && text[i - 1].isLetterOrNumber()
                   && text[i + 1].isLetterOrNumber()) {
            // An e-mail address: the whole word around the "@".
            qsizetype a = i;
            while (a > start && !isBlank(text[a - 1]) && !QStringView(u"<([\"'").contains(text[a - 1])) --a;
            qsizetype b = i + 1;
            while (b < end && !isBlank(text[b]) && !QStringView(u">)]\"'").contains(text[b])) ++b;
            while (b > i + 1 && QStringView(u".,;:!?").contains(text[b - 1])) --b;
            ranges.erase(std::remove_if(ranges.begin(), ranges.end(), [&](Range r) { return r.location >= a && r.end() <= b; }),
                         ranges.end());
            addRange(ranges, a, b);
            i = b;
            continue;
        } else if (isAsciiLetter(c) && (i == start || !text[i - 1].isLetterOrNumber())) {
            const qsizetype close = addressEnd(text, i, end);
            if (close > 0) {
                addRange(ranges, i, close);
                i = close;
                continue;
            }
        }
        ++i;
    }
}

} // namespace

std::vector<Range> syntaxRanges(QStringView text, Range paragraph)
{
    std::vector<Range> ranges;
    const qsizetype start = std::clamp<qsizetype>(paragraph.location, 0, text.size());
    const qsizetype end = std::clamp<qsizetype>(paragraph.end(), start, text.size());
    if (start == end) return ranges;

    qsizetype contentStart = start;
    const qsizetype withBreak = end - start + text::lineBreakLength(text, end);
    if (const auto line = markdownLineElement(text, start, withBreak)) {
        const Markdown& element = line->element;
        switch (element.kind()) {
        case Markdown::Kind::Codeblock:
        case Markdown::Kind::LinkDefinition:
            return {Range(start, end - start)};
        case Markdown::Kind::FootnoteDefinition:
        case Markdown::Kind::CitationDefinition:
        case Markdown::Kind::GlossaryDefinition:
        case Markdown::Kind::AcronymDefinition:
            // The label with its brackets and colon.
            if (const auto reference = element.reference()) addRange(ranges, start, std::min(end, reference->end() + 2));
            break;
        default:
            break;
        }
        contentStart = std::clamp<qsizetype>(start + line->contentStart, start, end);
    }
    addInlineElements(text, contentStart, end, ranges);
    addCharacterSyntax(text, start, end, ranges);
    return merged(std::move(ranges));
}

std::vector<Range> codeSpans(QStringView text, Range paragraph)
{
    std::vector<Range> spans;
    const qsizetype end = std::clamp<qsizetype>(paragraph.end(), 0, text.size());
    qsizetype i = std::clamp<qsizetype>(paragraph.location, 0, end);
    while (i < end) {
        if (text[i] == u'\\') {
            i += 2;
        } else if (text[i] == u'`') {
            qsizetype run = 0;
            const qsizetype close = codeSpanEnd(text, i, end, run);
            addRange(spans, i, close);
            i = close >= 0 ? close : i + run;
        } else {
            ++i;
        }
    }
    return spans;
}

bool isInsideSyntax(QStringView text, qsizetype index)
{
    if (index < 0 || index >= text.size()) return false;
    text::ParagraphBounds bounds = text::paragraphBounds(text, Range(index, 0));
    // In a very long paragraph only the stretch around index counts (no code
    // span or address runs that long), from a space on.
    if (index - bounds.start > kNearby) {
        bounds.start = index - kNearby;
        while (bounds.start < index && !isBlank(text[bounds.start])) ++bounds.start;
    }
    bounds.contentsEnd = std::min(bounds.contentsEnd, index + kNearby);
    const Range paragraph(bounds.start, bounds.contentsEnd - bounds.start);
    for (const Range& r : syntaxRanges(text, paragraph))
        if (r.contains(index)) return true;

    // Something opened before index and not closed yet.
    qsizetype openBackticks = 0;
    qsizetype i = bounds.start;
    while (i < index) {
        const QChar c = text[i];
        if (c == u'\\') {
            i += 2;
            continue;
        }
        if (c == u'`') {
            const qsizetype n = runLength(text, i, index, u'`');
            if (openBackticks == 0) openBackticks = n;
            else if (openBackticks == n) openBackticks = 0;
            i += n;
            continue;
        }
        ++i;
    }
    if (openBackticks > 0) return true;
    const QStringView before = text.sliced(bounds.start, index - bounds.start);
    // A link address being written: "](" with no ")" or space after it.
    const qsizetype address = before.lastIndexOf(u"](");
    if (address >= 0) {
        const QStringView rest = before.sliced(address + 2);
        if (!rest.contains(u')') && !hasWhitespace(rest)) return true;
    }
    // An HTML tag or automatic link being written.
    const qsizetype tag = before.lastIndexOf(u'<');
    if (tag >= 0 && tag + 1 < before.size() && !before.sliced(tag).contains(u'>')) {
        const QChar next = before[tag + 1];
        if (isAsciiLetter(next) || next == u'/' || next == u'!') return true;
    }
    return false;
}

// ---- CodeFences -----------------------------------------------------------------

void CodeFences::scanLines(QStringView text, qsizetype from, qsizetype to, std::vector<Fence>& into)
{
    qsizetype line = from;
    while (line <= to && line <= text.size()) {
        qsizetype lineEnd = line;
        while (lineEnd < text.size() && !text::isNewline(text[lineEnd])) ++lineEnd;
        if (const auto fence = fenceLine(text, line, lineEnd)) into.push_back(Fence{line, lineEnd, *fence});
        if (lineEnd >= text.size()) break;
        line = lineEnd + text::lineBreakLength(text, lineEnd);
    }
}

void CodeFences::reset(QStringView text)
{
    m_fences.clear();
    m_textLength = text.size();
    // Only lines that start with a fence character are worth a look.
    scanLines(text, 0, text.size(), m_fences);
    m_blocksValid = false;
}

void CodeFences::update(QStringView text, Range editedRange, qsizetype changeInLength)
{
    if (!update(text, text.size(), editedRange, changeInLength)) reset(text);
}

bool CodeFences::update(QStringView text, qsizetype textLength, Range editedRange, qsizetype changeInLength)
{
    if (m_textLength + changeInLength != textLength) return false;
    m_textLength = textLength;
    const qsizetype oldEnd = editedRange.end() - changeInLength;
    // The lines the edit touches, from the start of its first line.
    qsizetype from = editedRange.location;
    while (from > 0 && !text::isNewline(text[from - 1])) --from;
    auto first = std::lower_bound(m_fences.begin(), m_fences.end(), from,
                                  [](const Fence& f, qsizetype at) { return f.lineStart < at; });
    auto last = std::upper_bound(first, m_fences.end(), oldEnd,
                                 [](qsizetype at, const Fence& f) { return at < f.lineStart; });
    for (auto it = last; it != m_fences.end(); ++it) {
        it->lineStart += changeInLength;
        it->lineEnd += changeInLength;
    }
    std::vector<Fence> fresh;
    scanLines(text, from, editedRange.end(), fresh);
    const auto at = m_fences.erase(first, last);
    m_fences.insert(at, fresh.begin(), fresh.end());
    m_blocksValid = false;
    return true;
}

const std::vector<Range>& CodeFences::blocks() const
{
    if (m_blocksValid) return m_blocks;
    m_blocks.clear();
    const Fence* open = nullptr;
    for (const Fence& fence : m_fences) {
        if (!open) {
            open = &fence;
        } else if (closesFence(fence.line, open->line)) {
            m_blocks.emplace_back(open->lineStart, fence.lineEnd - open->lineStart);
            open = nullptr;
        }
    }
    if (open) m_blocks.emplace_back(open->lineStart, m_textLength - open->lineStart);
    m_blocksValid = true;
    return m_blocks;
}

std::optional<CodeFences::Opening> CodeFences::openingBefore(qsizetype lineStart) const
{
    const std::vector<Range>& all = blocks();
    auto it = std::upper_bound(all.begin(), all.end(), lineStart, [](qsizetype at, Range r) { return at < r.location; });
    if (it == all.begin()) return std::nullopt;
    --it;
    if (it->location >= lineStart || lineStart > it->end()) return std::nullopt;
    const auto opener = std::lower_bound(m_fences.begin(), m_fences.end(), it->location,
                                         [](const Fence& f, qsizetype at) { return f.lineStart < at; });
    if (opener == m_fences.end() || opener->lineStart != it->location) return std::nullopt;
    return Opening{opener->lineStart, opener->line};
}

bool CodeFences::contains(qsizetype index) const
{
    const std::vector<Range>& all = blocks();
    auto it = std::upper_bound(all.begin(), all.end(), index, [](qsizetype at, Range r) { return at < r.location; });
    if (it == all.begin()) return false;
    --it;
    return index >= it->location && index <= it->end();
}

} // namespace lumora
