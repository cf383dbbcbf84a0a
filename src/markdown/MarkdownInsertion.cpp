#include "markdown/MarkdownInsertion.h"

#include "markdown/MarkdownScanner.h"
#include "markdown/SyntaxRanges.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/foundation/Localization.h"
#include "platform/text/TextBoundaries.h"

#include <algorithm>
#include <limits>
#include <set>

namespace lumora {

namespace {

using Kind = Markdown::Kind;

// An element of the text found again where the styling marked it.
struct Found {
    Range range; // the whole element, or the definition's paragraph
    Markdown element;
};

QString sliced(QStringView text, Range range) { return text.sliced(range.location, range.length).toString(); }

// The whole of s read as a decimal number, or nothing when it is not one or
// does not fit a 64-bit integer.
std::optional<std::int64_t> decimalNumber(QStringView s)
{
    if (s.isEmpty()) return std::nullopt;
    std::int64_t n = 0;
    for (const QChar c : s) {
        const int digit = CharacterSet::decimalDigits().contains(c) ? c.digitValue() : -1;
        if (digit < 0) return std::nullopt;
        if (n > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

QString trimmedWhitespaceAndNewlines(QStringView s)
{
    qsizetype from = 0, to = s.size();
    while (from < to && text::isWhitespaceOrNewline(s[from])) ++from;
    while (to > from && text::isWhitespaceOrNewline(s[to - 1])) --to;
    return s.sliced(from, to - from).toString();
}

bool isEmphasis(Kind kind) { return kind == Kind::Italic || kind == Kind::Bold || kind == Kind::ItalicAndBold; }

// Where the text is code: fenced blocks, indented blocks and code spans.
// What stands there is example code, never a link, a note or a definition,
// so the commands neither count nor renumber it.
class CodeStretches {
public:
    explicit CodeStretches(QStringView text) : m_text(text)
    {
        m_fences.reset(text);
        findIndentedBlocks();
    }

    bool contains(qsizetype index)
    {
        if (m_fences.contains(index)) return true;
        const auto block = std::upper_bound(m_indented.begin(), m_indented.end(), index,
                                            [](qsizetype at, Range r) { return at < r.location; });
        if (block != m_indented.begin() && std::prev(block)->contains(index)) return true;
        const text::ParagraphBounds line = text::paragraphBounds(m_text, Range(index, 0));
        if (line.start != m_spansLine) {
            m_spansLine = line.start;
            m_spans = codeSpans(m_text, Range(line.start, line.contentsEnd - line.start));
        }
        return std::any_of(m_spans.begin(), m_spans.end(), [index](Range r) { return r.contains(index); });
    }

private:
    static qsizetype indentColumns(QStringView line)
    {
        qsizetype columns = 0;
        for (const QChar c : line) {
            if (c == u' ') ++columns;
            else if (c == u'\t') columns = (columns / 4 + 1) * 4;
            else break;
        }
        return columns;
    }

    // Lines indented by four columns or more after a blank line, a heading,
    // a fenced block or another such line; in a list they go on with an
    // item instead, and under a line of text with its paragraph.
    void findIndentedBlocks()
    {
        bool afterBlockEnd = true;
        bool inList = false;
        for (qsizetype start = 0; start < m_text.size();) {
            const text::ParagraphBounds line = text::paragraphBounds(m_text, Range(start, 0));
            const QStringView content = m_text.sliced(line.start, line.contentsEnd - line.start);
            const bool blank = std::all_of(content.begin(), content.end(), [](QChar c) { return text::isWhitespace(c.unicode()); });
            if (blank || m_fences.contains(line.start)) {
                afterBlockEnd = true;
            } else if (indentColumns(content) >= 4) {
                const bool code = afterBlockEnd && !inList;
                if (code) m_indented.emplace_back(line.start, line.contentsEnd - line.start);
                afterBlockEnd = code;
            } else {
                const auto element = markdownLineElement(m_text, line.start, line.end - line.start);
                if (element && element->element.isList()) inList = true;
                else if (afterBlockEnd) inList = false;
                afterBlockEnd = element && element->element.kind() == Kind::Heading;
            }
            start = std::max(line.end, start + 1);
        }
    }

    QStringView m_text;
    CodeFences m_fences;
    std::vector<Range> m_indented;
    qsizetype m_spansLine = -1;
    std::vector<Range> m_spans;
};

// The inline elements of the given kinds, in text order: each run the
// styling marked with such an element, scanned again, kept only when the
// text there still holds an element of the same kind (values left behind by
// earlier edits are ignored). The styling marks only the outermost elements
// of a paragraph, so the text of strong and emphasized elements is scanned
// too, at any depth: a reference in "**see [y][1]**" counts like any other.
// Elements in code do not count.
std::vector<Found> inlineElements(const TextStorage& storage, std::initializer_list<Kind> kinds, CodeStretches& code)
{
    std::vector<Found> found;
    const QStringView text = storage.string();
    const auto wanted = [&kinds](Kind kind) { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); };
    std::vector<Range> inside; // emphasis texts still to scan, nearest first
    const auto scanInside = [&](Range inner) {
        inside.push_back(inner);
        while (!inside.empty()) {
            Range stretch = inside.back();
            inside.pop_back();
            const auto element = nextInlineMarkdown(text, stretch.location, stretch.length);
            if (!element) continue;
            const qsizetype next = std::max(element->range.end(), stretch.location + 1);
            if (next < stretch.end()) inside.push_back(Range(next, stretch.end() - next));
            if (wanted(element->element.kind())) found.push_back({element->range, element->element});
            else if (isEmphasis(element->element.kind())) inside.push_back(*element->element.text());
        }
    };
    storage.enumerateAttribute(AttributeKey::InlineMarkdown, Range(0, storage.length()),
                               [&](const AttributeValue& value, Range run) {
                                   const auto stored = Markdown::unboxed(value);
                                   if (!stored) return true;
                                   const bool keep = wanted(stored->kind());
                                   if (!keep && !isEmphasis(stored->kind())) return true;
                                   const auto scanned = nextInlineMarkdown(text, run.location, run.length);
                                   if (!scanned || scanned->element.kind() != stored->kind()) return true;
                                   if (keep) found.push_back({scanned->range, scanned->element});
                                   else scanInside(*scanned->element.text());
                                   return true;
                               });
    std::erase_if(found, [&code](const Found& f) { return code.contains(f.range.location); });
    return found;
}

// The definition lines of one kind, in text order, found the same way (none
// in code).
std::vector<Found> definitions(const TextStorage& storage, Kind kind, CodeStretches& code)
{
    std::vector<Found> found;
    const QStringView text = storage.string();
    storage.enumerateAttribute(AttributeKey::FullLineMarkdown, Range(0, storage.length()),
                               [&](const AttributeValue& value, Range run) {
                                   const auto stored = Markdown::unboxed(value);
                                   if (!stored || stored->kind() != kind) return true;
                                   const auto line = markdownLineElement(text, run.location, run.length);
                                   if (line && line->element.kind() == kind) found.push_back({run, line->element});
                                   return true;
                               });
    std::erase_if(found, [&code](const Found& f) { return code.contains(f.range.location); });
    return found;
}

// The numbered label of a reference: a link reference's reference, a
// footnote's text; nothing for an inline link.
OptionalRange numberedLabel(const Markdown& element)
{
    if (element.kind() == Kind::LinkReference) return element.reference();
    if (element.kind() == Kind::FootnoteInline) return element.text();
    return std::nullopt;
}

// Whether a line opens raw HTML: a tag, a closing tag, a comment or a
// declaration at its start (at most three spaces in).
bool opensHtml(QStringView line)
{
    qsizetype i = 0;
    while (i < 3 && i < line.size() && line[i] == u' ') ++i;
    if (i + 1 >= line.size() || line[i] != u'<') return false;
    const auto isLetter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    const QChar next = line[i + 1];
    return isLetter(next) || next == u'!' || next == u'?'
        || (next == u'/' && i + 2 < line.size() && isLetter(line[i + 2]));
}

// Whether the text's last block (its lines after the last blank one) holds
// raw HTML. A definition right under it would be read as more of the HTML,
// in MultiMarkdown as in CommonMark, so a blank line must come between.
bool endsInHtml(QStringView text)
{
    const auto lineBreakBefore = [&text](qsizetype end) {
        return end >= 2 && text[end - 2] == u'\r' && text[end - 1] == u'\n' ? 2 : 1;
    };
    qsizetype end = text.size();
    if (end > 0 && text::isNewline(text[end - 1])) end -= lineBreakBefore(end);
    while (true) {
        qsizetype start = end;
        while (start > 0 && !text::isNewline(text[start - 1])) --start;
        const QStringView line = text.sliced(start, end - start);
        if (std::all_of(line.begin(), line.end(), [](QChar c) { return text::isWhitespace(c.unicode()); })) return false;
        if (opensHtml(line)) return true;
        if (start == 0) return false;
        end = start - lineBreakBefore(start);
    }
}

// Where a new definition goes: before the one at position index, else at the
// end of the text on a line of its own, right under the last line (after a
// blank line where that is raw HTML). line ends in lineEnding.
MarkdownEdit definitionInsertion(QStringView text, const std::vector<Found>& defs, size_t index, QString line,
                                 QStringView lineEnding)
{
    qsizetype at = text.size();
    if (defs.size() > index) {
        at = defs[index].range.location;
    } else {
        if (!text.isEmpty() && !text::isNewline(text.back())) line.prepend(lineEnding.toString());
        if (endsInHtml(text)) line.prepend(lineEnding.toString());
    }
    return MarkdownEdit{line, Range(at, 0), Range(at, line.size())};
}

// The edits that move every numbered reference after position `after` of the
// element list by delta, each with the first definition of its old number.
// A definition is renumbered once, and one that the command removes not at
// all.
void renumber(std::vector<MarkdownEdit>& edits, QStringView text, const std::vector<Found>& elements, size_t after,
              const std::vector<Found>& defs, std::optional<size_t> removedDefinition, int delta)
{
    std::set<size_t> renumbered;
    if (removedDefinition) renumbered.insert(*removedDefinition);
    for (size_t i = after + 1; i < elements.size(); ++i) {
        const OptionalRange label = numberedLabel(elements[i].element);
        if (!label) continue;
        const QString old = sliced(text, *label);
        const auto number = decimalNumber(old);
        if (!number) continue;
        if (delta > 0 && *number == std::numeric_limits<std::int64_t>::max()) continue;
        const QString next = QString::number(*number + delta);
        edits.push_back({next, *label, *label});
        for (size_t d = 0; d < defs.size(); ++d) {
            const OptionalRange reference = defs[d].element.reference();
            if (!reference || sliced(text, *reference) != old) continue;
            if (renumbered.insert(d).second)
                edits.push_back({next, *reference, Range(reference->location, next.size())});
            break;
        }
    }
}

// From the end of the text backwards; edits that start at the same place
// keep their order.
std::vector<MarkdownEdit> orderedForApplying(std::vector<MarkdownEdit> edits)
{
    std::stable_sort(edits.begin(), edits.end(), [](const MarkdownEdit& a, const MarkdownEdit& b) {
        return a.range.location > b.range.location;
    });
    return edits;
}

std::optional<size_t> positionOf(const std::vector<Found>& elements, Range range)
{
    for (size_t i = 0; i < elements.size(); ++i)
        if (elements[i].range == range) return i;
    return std::nullopt;
}

} // namespace

QString placeholderLinkAddress() { return QStringLiteral("https://"); }

std::optional<Markdown::InlineElement> inlineElementAtSelection(QStringView text, Range selection)
{
    const text::ParagraphBounds lines = text::paragraphBounds(text, selection);
    qsizetype start = lines.start;
    while (start < lines.end) {
        const auto element = nextInlineMarkdown(text, start, lines.end - start);
        if (!element) return std::nullopt;
        if (element->range.location <= selection.location && selection.end() <= element->range.end()) return element;
        start = std::max(element->range.end(), start + 1);
    }
    return std::nullopt;
}

std::vector<MarkdownEdit> insertMarkdownLink(const TextStorage& storage, Range selection, QStringView lineEnding)
{
    const QStringView text = storage.string();
    const auto selected = inlineElementAtSelection(text, selection);
    if (!selected) {
        QString label = sliced(text, selection);
        if (selection.isEmpty()) label = localized("markdown.link");
        const QString address = placeholderLinkAddress();
        return {MarkdownEdit{QLatin1Char('[') + label + QStringLiteral("](") + address + QLatin1Char(')'), selection,
                             Range(selection.location + label.size() + 3, address.size())}};
    }
    const Kind kind = selected->element.kind();
    if (kind != Kind::LinkInline && kind != Kind::LinkReference) return {};

    CodeStretches code(text);
    const std::vector<Found> links = inlineElements(storage, {Kind::LinkInline, Kind::LinkReference}, code);
    const std::vector<Found> defs = definitions(storage, Kind::LinkDefinition, code);
    const auto position = positionOf(links, selected->range);
    if (!position) return {};
    const Markdown& link = links[*position].element;
    const Range element = links[*position].range;
    const QString linkText = sliced(text, *link.text());

    std::vector<MarkdownEdit> edits;
    if (kind == Kind::LinkInline) {
        const QString n = QString::number(qulonglong(*position) + 1);
        edits.push_back(definitionInsertion(text, defs, *position,
                                            QLatin1Char('[') + n + QStringLiteral("]: ") + sliced(text, *link.url())
                                                + lineEnding.toString(),
                                            lineEnding));
        edits.push_back({QLatin1Char('[') + linkText + QStringLiteral("][") + n + QLatin1Char(']'), element,
                         Range(element.location + linkText.size() + 3, n.size())});
        renumber(edits, text, links, *position, defs, std::nullopt, +1);
        return orderedForApplying(std::move(edits));
    }

    const QString reference = sliced(text, *link.reference());
    std::optional<size_t> definition;
    for (size_t d = 0; d < defs.size() && !definition; ++d)
        if (sliced(text, *defs[d].element.reference()) == reference) definition = d;
    if (!definition) {
        // Nothing says where the link goes: it turns inline with an unknown
        // address, ready to be typed over, and keeps its text.
        const QString replacement = QLatin1Char('[') + linkText + QStringLiteral("](?)");
        return {MarkdownEdit{replacement, element, Range(element.location + linkText.size() + 3, 1)}};
    }
    const Found& def = defs[*definition];
    edits.push_back({QString(), def.range, Range(def.range.location, 0)});
    const QString replacement = QLatin1Char('[') + linkText + QStringLiteral("](")
        + trimmedWhitespaceAndNewlines(sliced(text, *def.element.url())) + QLatin1Char(')');
    edits.push_back({replacement, element, Range(element.location, replacement.size())});
    renumber(edits, text, links, *position, defs, definition, -1);
    return orderedForApplying(std::move(edits));
}

std::vector<MarkdownEdit> insertMarkdownFootnote(const TextStorage& storage, Range selection, QStringView lineEnding)
{
    const QStringView text = storage.string();
    const auto selected = inlineElementAtSelection(text, selection);
    if (!selected || selected->element.kind() != Kind::FootnoteInline) {
        QString note = sliced(text, selection);
        if (selection.isEmpty()) note = localized("markdown.footnote");
        return {MarkdownEdit{QStringLiteral("[^") + note + QLatin1Char(']'), selection,
                             Range(selection.location + 2, note.size())}};
    }

    CodeStretches code(text);
    const std::vector<Found> notes = inlineElements(storage, {Kind::FootnoteInline}, code);
    const std::vector<Found> defs = definitions(storage, Kind::FootnoteDefinition, code);
    const auto position = positionOf(notes, selected->range);
    if (!position) return {};
    const Range element = notes[*position].range;
    const QString noteText = sliced(text, *notes[*position].element.text());

    std::vector<MarkdownEdit> edits;
    std::optional<size_t> definition;
    for (size_t d = 0; d < defs.size() && !definition; ++d)
        if (sliced(text, *defs[d].element.reference()) == noteText) definition = d;
    if (definition) {
        // A numbered footnote: its definition's text comes back inline.
        const Found& def = defs[*definition];
        edits.push_back({QString(), def.range, Range(def.range.location, 0)});
        const QString replacement =
            QStringLiteral("[^") + trimmedWhitespaceAndNewlines(sliced(text, *def.element.text())) + QLatin1Char(']');
        edits.push_back({replacement, element, Range(element.location, replacement.size())});
        renumber(edits, text, notes, *position, defs, definition, -1);
        return orderedForApplying(std::move(edits));
    }

    const QString n = QString::number(qulonglong(*position) + 1);
    edits.push_back(definitionInsertion(text, defs, *position,
                                        QStringLiteral("[^") + n + QStringLiteral("]: ") + noteText + lineEnding.toString(),
                                        lineEnding));
    edits.push_back({QStringLiteral("[^") + n + QLatin1Char(']'), element, Range(element.location + 2, n.size())});
    renumber(edits, text, notes, *position, defs, std::nullopt, +1);
    return orderedForApplying(std::move(edits));
}

MarkdownEdit toggleMarkdownMarker(QStringView text, Range selection, QStringView marker)
{
    const qsizetype L = selection.location, N = selection.length, m = marker.size();
    const bool before = L >= m && text.sliced(L - m, m) == marker;
    const bool after = L + N + m <= text.size() && text.sliced(L + N, m) == marker;
    const QString selected = text.sliced(L, N).toString();
    if (before && after) return {selected, Range(L - m, 2 * m + N), Range(L - m, N)};
    if (after) return {QString(), Range(L + N, m), Range(L, N)};
    if (before) return {QString(), Range(L - m, m), Range(L - m, N)};
    if (N == 0) return {marker.toString(), Range(L, 0), Range(L + m, 0)};
    // White space at the selection's edges (a word selected with the space
    // after it) stays outside the markers: "*word* ", never "*word *", which
    // no converter reads as emphasis.
    qsizetype from = 0, to = N;
    while (from < to && text::isWhitespaceOrNewline(selected[from])) ++from;
    while (to > from && text::isWhitespaceOrNewline(selected[to - 1])) --to;
    if (from == to) {
        from = 0;
        to = N;
    }
    const QString core = selected.sliced(from, to - from);
    return {selected.first(from) + marker.toString() + core + marker.toString() + selected.sliced(to), selection,
            Range(L + from + m, core.size())};
}

MarkdownEdit toggleMarkdownEmphasis(QStringView text, Range selection, Markdown::Kind kind)
{
    if (const auto element = inlineElementAtSelection(text, selection); element && element->element.kind() == kind) {
        const Range inner = *element->element.text();
        return {sliced(text, inner), element->range, Range(element->range.location, inner.length)};
    }
    return toggleMarkdownMarker(text, selection, kind == Kind::Bold ? QStringView(u"**") : QStringView(u"*"));
}

} // namespace lumora
