#include "markdown/MarkdownInsertion.h"

#include "markdown/MarkdownScanner.h"
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

// Where the text stands as written in every output (code, raw HTML), as
// the conversion reads it: what stands there is example text, never a link,
// a note or a definition, so the commands neither count nor renumber it.
class LiteralText {
public:
    explicit LiteralText(const std::vector<Range>& stretches) : m_stretches(stretches) {}

    bool contains(qsizetype index) const
    {
        const auto after = std::upper_bound(m_stretches.begin(), m_stretches.end(), index,
                                            [](qsizetype at, Range r) { return at < r.location; });
        return after != m_stretches.begin() && std::prev(after)->contains(index);
    }

private:
    const std::vector<Range>& m_stretches;
};

// The inline elements of the given kinds, in text order: each run the
// styling marked with such an element, scanned again, kept only when the
// text there still holds an element of the same kind (values left behind by
// earlier edits are ignored). The styling marks only the outermost elements
// of a paragraph, so the text of strong and emphasized elements is scanned
// too, at any depth: a reference in "**see [y][1]**" counts like any other.
// Elements in literal text do not count.
std::vector<Found> inlineElements(const TextStorage& storage, std::initializer_list<Kind> kinds, const LiteralText& literal)
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
    std::erase_if(found, [&literal](const Found& f) { return literal.contains(f.range.location); });
    return found;
}

// The definition lines of one kind, in text order, found the same way (none
// in literal text).
std::vector<Found> definitions(const TextStorage& storage, Kind kind, const LiteralText& literal)
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
    std::erase_if(found, [&literal](const Found& f) { return literal.contains(f.range.location); });
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

// The number a label stands for: the whole label a decimal number as it is
// written back ("01" is a label of its own, never the same as "1"), and
// fitting a 64-bit integer; nothing for any other label.
std::optional<std::int64_t> labelNumber(QStringView label)
{
    const auto number = decimalNumber(label);
    if (!number || QString::number(*number) != label) return std::nullopt;
    return number;
}

// The edits that move every numbered label from `from` on by delta: the
// references (all but the selected one) and the definitions (all but a
// removed one), wherever they stand. Numbers below `from` stay, so a new
// number is free (delta +1) or a freed one is closed (delta -1) however the
// writer's numbers run through the text; in a text numbered in reading
// order these are the references after the selected one and their
// definitions. A number that would leave 64 bits stays as it is.
void renumber(std::vector<MarkdownEdit>& edits, QStringView text, const std::vector<Found>& elements,
              size_t selected, const std::vector<Found>& defs, std::optional<size_t> removedDefinition,
              std::int64_t from, int delta)
{
    const auto moved = [&](Range label) -> std::optional<QString> {
        const auto number = labelNumber(text.sliced(label.location, label.length));
        if (!number || *number < from) return std::nullopt;
        if (delta > 0 && *number == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
        return QString::number(*number + delta);
    };
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i == selected) continue;
        const OptionalRange label = numberedLabel(elements[i].element);
        if (!label) continue;
        if (const auto next = moved(*label)) edits.push_back({*next, *label, *label});
    }
    for (size_t d = 0; d < defs.size(); ++d) {
        if (d == removedDefinition) continue;
        const OptionalRange reference = defs[d].element.reference();
        if (!reference) continue;
        if (const auto next = moved(*reference))
            edits.push_back({*next, *reference, Range(reference->location, next->size())});
    }
}

// Whether the note defined on the line of definition says more than that
// line, as the conversion reads it.
bool continuesAfter(const std::vector<Range>& noteDefinitions, QStringView text, Range definition)
{
    qsizetype contentEnd = definition.end();
    while (contentEnd > definition.location && text::isNewline(text[contentEnd - 1])) --contentEnd;
    return std::any_of(noteDefinitions.begin(), noteDefinitions.end(), [&](Range note) {
        return note.location >= definition.location && note.location < contentEnd && note.end() > contentEnd;
    });
}

// Whether a label that a reference going inline takes away is used by no
// other reference and defined once: only then may its definition go and the
// numbers after it close up. Any other use of the reference's own form
// (token: "][1]", "[^1]") outside literal text counts, wherever it stands
// (in an image's description, say), but for a definition's.
bool labelIsOnlyThere(QStringView text, const LiteralText& literal, const std::vector<Found>& elements,
                      size_t selected, const std::vector<Found>& defs, QStringView label, QStringView token)
{
    for (size_t i = 0; i < elements.size(); ++i) {
        const OptionalRange other = numberedLabel(elements[i].element);
        if (i != selected && other && text.sliced(other->location, other->length) == label) return false;
    }
    const Range own = elements[selected].range;
    for (qsizetype at = text.indexOf(token); at >= 0; at = text.indexOf(token, at + 1)) {
        const qsizetype after = at + token.size();
        const bool definition = after < text.size() && text[after] == u':';
        if (!definition && !own.contains(at) && !literal.contains(at)) return false;
    }
    int definitions = 0;
    for (const Found& def : defs) {
        const OptionalRange reference = def.element.reference();
        if (reference && text.sliced(reference->location, reference->length) == label) ++definitions;
    }
    return definitions == 1;
}

// From the end of the text backwards; edits that start at the same place
// keep their order. The selection that remains is that of the main edit
// (the element's own): every edit applied after it, nearer the start of the
// text, carries that selection moved by what the edits before it changed.
std::vector<MarkdownEdit> orderedForApplying(std::vector<MarkdownEdit> edits, size_t main)
{
    std::vector<size_t> order(edits.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&edits](size_t a, size_t b) {
        return edits[a].range.location > edits[b].range.location;
    });
    std::vector<MarkdownEdit> ordered;
    ordered.reserve(edits.size());
    std::optional<Range> kept;
    for (const size_t i : order) {
        MarkdownEdit edit = edits[i];
        if (kept) {
            kept->location += edit.replacement.size() - edit.range.length;
            edit.selection = *kept;
        } else if (i == main) {
            kept = edit.selection;
        }
        ordered.push_back(std::move(edit));
    }
    return ordered;
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

std::vector<MarkdownEdit> insertMarkdownLink(const TextStorage& storage, Range selection,
                                             const ConversionReading& reading, QStringView lineEnding)
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

    const LiteralText literal(reading.literal);
    const std::vector<Found> links = inlineElements(storage, {Kind::LinkInline, Kind::LinkReference}, literal);
    const std::vector<Found> defs = definitions(storage, Kind::LinkDefinition, literal);
    const auto position = positionOf(links, selected->range);
    if (!position) return {};
    const Markdown& link = links[*position].element;
    const Range element = links[*position].range;
    const QString linkText = sliced(text, *link.text());

    std::vector<MarkdownEdit> edits;
    if (kind == Kind::LinkInline) {
        // The scanner ends an address at its first ")", where the
        // conversion reads parentheses in pairs: an address with an open
        // one goes on past the element, and turning it would cut the link.
        const QString address = sliced(text, *link.url());
        if (address.count(u'(') > address.count(u')')) return {};
        const QString n = QString::number(qulonglong(*position) + 1);
        edits.push_back(definitionInsertion(text, defs, *position,
                                            QLatin1Char('[') + n + QStringLiteral("]: ") + sliced(text, *link.url())
                                                + lineEnding.toString(),
                                            lineEnding));
        edits.push_back({QLatin1Char('[') + linkText + QStringLiteral("][") + n + QLatin1Char(']'), element,
                         Range(element.location + linkText.size() + 3, n.size())});
        renumber(edits, text, links, *position, defs, std::nullopt, std::int64_t(*position) + 1, +1);
        return orderedForApplying(std::move(edits), 1);
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
    const QString replacement = QLatin1Char('[') + linkText + QStringLiteral("](")
        + trimmedWhitespaceAndNewlines(sliced(text, *def.element.url())) + QLatin1Char(')');
    edits.push_back({replacement, element, Range(element.location, replacement.size())});
    // Another reference still using the definition keeps it, and the numbers
    // stay as they are.
    if (labelIsOnlyThere(text, literal, links, *position, defs, reference,
                         QStringLiteral("][") + reference + QLatin1Char(']'))) {
        edits.push_back({QString(), def.range, Range(def.range.location, 0)});
        if (const auto number = labelNumber(reference))
            renumber(edits, text, links, *position, defs, definition, *number + 1, -1);
    }
    return orderedForApplying(std::move(edits), 0);
}

std::vector<MarkdownEdit> insertMarkdownFootnote(const TextStorage& storage, Range selection,
                                                 const ConversionReading& reading, QStringView lineEnding)
{
    const QStringView text = storage.string();
    const auto selected = inlineElementAtSelection(text, selection);
    if (!selected || selected->element.kind() != Kind::FootnoteInline) {
        QString note = sliced(text, selection);
        if (selection.isEmpty()) note = localized("markdown.footnote");
        return {MarkdownEdit{QStringLiteral("[^") + note + QLatin1Char(']'), selection,
                             Range(selection.location + 2, note.size())}};
    }

    const LiteralText literal(reading.literal);
    const std::vector<Found> notes = inlineElements(storage, {Kind::FootnoteInline}, literal);
    const std::vector<Found> defs = definitions(storage, Kind::FootnoteDefinition, literal);
    const auto position = positionOf(notes, selected->range);
    if (!position) return {};
    const Range element = notes[*position].range;
    const QString noteText = sliced(text, *notes[*position].element.text());
    // Likewise a note's text for the scanner ends at its first "]", where
    // the conversion reads brackets in pairs.
    if (noteText.contains(u'[')) return {};

    std::vector<MarkdownEdit> edits;
    std::optional<size_t> definition;
    for (size_t d = 0; d < defs.size() && !definition; ++d)
        if (sliced(text, *defs[d].element.reference()) == noteText) definition = d;
    if (definition) {
        // A numbered footnote: its definition's text comes back inline. A
        // note that says more than its first paragraph (lines after it,
        // further paragraphs) cannot stand inline without losing them, and
        // one referred to elsewhere too would become two notes: it stays
        // numbered.
        const Found& def = defs[*definition];
        if (continuesAfter(reading.noteDefinitions, text, def.range)) return {};
        if (!labelIsOnlyThere(text, literal, notes, *position, defs, noteText,
                              QStringLiteral("[^") + noteText + QLatin1Char(']')))
            return {};
        const QString replacement =
            QStringLiteral("[^") + trimmedWhitespaceAndNewlines(sliced(text, *def.element.text())) + QLatin1Char(']');
        edits.push_back({replacement, element, Range(element.location, replacement.size())});
        edits.push_back({QString(), def.range, Range(def.range.location, 0)});
        if (const auto number = labelNumber(noteText))
            renumber(edits, text, notes, *position, defs, definition, *number + 1, -1);
        return orderedForApplying(std::move(edits), 0);
    }

    const QString n = QString::number(qulonglong(*position) + 1);
    edits.push_back(definitionInsertion(text, defs, *position,
                                        QStringLiteral("[^") + n + QStringLiteral("]: ") + noteText + lineEnding.toString(),
                                        lineEnding));
    edits.push_back({QStringLiteral("[^") + n + QLatin1Char(']'), element, Range(element.location + 2, n.size())});
    renumber(edits, text, notes, *position, defs, std::nullopt, std::int64_t(*position) + 1, +1);
    return orderedForApplying(std::move(edits), 1);
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
