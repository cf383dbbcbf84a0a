#include "markdown/MarkdownScanner.h"

#include <algorithm>

namespace lumora {

namespace {

// A bounded view of the text: a character test at or past the end fails.
struct Text {
    QStringView s;
    qsizetype end; // exclusive bound for character tests

    bool is(qsizetype p, char16_t c) const { return p >= 0 && p < end && s[p].unicode() == c; }
    bool in(qsizetype p, const CharacterSet& set) const { return p >= 0 && p < end && set.contains(s[p]); }
    bool isWhitespace(qsizetype p) const { return p >= 0 && p < end && text::isWhitespace(s[p].unicode()); }

    // First occurrence of c in [from, to), or -1.
    qsizetype find(char16_t c, qsizetype from, qsizetype to) const
    {
        to = std::min(to, s.size());
        if (from < 0 || from >= to) return -1;
        const qsizetype i = s.first(to).indexOf(QChar(c), from);
        return i;
    }
    // First occurrence of a character of set in [from, to), or -1.
    qsizetype findAny(const CharacterSet& set, qsizetype from, qsizetype to) const
    {
        to = std::min(to, s.size());
        for (qsizetype i = std::max<qsizetype>(from, 0); i < to; ++i)
            if (set.contains(s[i])) return i;
        return -1;
    }
};

// Bounds a (location, length) request to the text.
void clampRange(QStringView text, qsizetype& location, qsizetype& end, qsizetype length)
{
    location = std::clamp<qsizetype>(location, 0, text.size());
    end = std::clamp<qsizetype>(location + std::max<qsizetype>(length, 0), location, text.size());
}

// The offset just after the character at p (a surrogate pair counts as one).
qsizetype afterCharacter(QStringView s, qsizetype p)
{
    if (p + 1 < s.size() && s[p].isHighSurrogate() && s[p + 1].isLowSurrogate()) return p + 2;
    return p + 1;
}

std::optional<Markdown::LineElement> definition(const Text& t, qsizetype location, qsizetype end)
{
    const qsizetype r = t.find(u']', location + 1, end);
    if (r < 0 || !t.is(r + 1, u':')) return std::nullopt;
    const qsizetype c = r + 2;
    const Range second(c, end - c);
    const Range prefixed(location + 2, r - (location + 2));
    Markdown element = Markdown::linkDefinition(Range(location + 1, r - (location + 1)), second);
    if (t.is(location + 1, u'^')) element = Markdown::footnoteDefinition(prefixed, second);
    else if (t.is(location + 1, u'#')) element = Markdown::citationDefinition(prefixed, second);
    else if (t.is(location + 1, u'?')) element = Markdown::glossaryDefinition(prefixed, second);
    else if (t.is(location + 1, u'>')) element = Markdown::acronymDefinition(prefixed, second);
    return Markdown::LineElement{element, c - location};
}

} // namespace

qsizetype countMarkerRepeats(QStringView text, QStringView marker, qsizetype index, qsizetype limit)
{
    if (marker.isEmpty() || index < 0) return 0;
    if (limit < 0 || limit > text.size()) limit = text.size();
    qsizetype i = index;
    while (i + marker.size() <= limit && text.sliced(i, marker.size()) == marker) i += marker.size();
    return std::max<qsizetype>(i - index, 0);
}

qsizetype skipCharacters(QStringView text, const CharacterSet& set, qsizetype index, qsizetype limit)
{
    if (index < 0) return 0;
    if (limit < 0 || limit > text.size()) limit = text.size();
    qsizetype i = index;
    while (i < limit && set.contains(text[i])) ++i;
    return std::max<qsizetype>(i - index, 0);
}

std::optional<Markdown::LineElement> markdownLineElement(QStringView text, qsizetype location, qsizetype length)
{
    qsizetype end;
    clampRange(text, location, end, length);
    if (location >= text.size()) return std::nullopt;
    const Text t{text, end};

    // Heading: one to six "#" and a space.
    const qsizetype hashes = countMarkerRepeats(text, u"#", location, end);
    if (hashes >= 1 && hashes <= 6 && t.is(location + hashes, u' ')) {
        const qsizetype start = location + hashes + 1;
        return Markdown::LineElement{Markdown::heading(Range(start, end - start), int(hashes)), hashes + 1};
    }

    // Definitions: "[", a reference, "]:".
    if (t.is(location, u'[')) {
        if (auto d = definition(t, location, end)) return d;
    }

    // Indentation: spaces in fours, or tabs; never mixed.
    qsizetype indent;
    int level;
    const qsizetype spaces = skipCharacters(text, Markdown::spaceCharacters(), location, end);
    if (spaces > 0) {
        if (spaces % 4 != 0) return std::nullopt;
        indent = spaces;
        level = int(spaces / 4);
    } else {
        indent = skipCharacters(text, Markdown::tabCharacters(), location, end);
        level = int(indent);
    }
    const qsizetype p = location + indent;

    // Ordered list item: digits, "." or ")", whitespace.
    const qsizetype digits = skipCharacters(text, CharacterSet::decimalDigits(), p, end);
    if (digits > 0 && t.in(p + digits, Markdown::orderedListDelimiters()) && t.isWhitespace(p + digits + 1)) {
        const qsizetype start = p + digits + 2;
        return Markdown::LineElement{Markdown::orderedList(Range(start, end - start), level), indent + digits + 2};
    }

    // Unordered list item: "*", "-" or "+", whitespace.
    if (t.in(p, Markdown::unorderedListMarkers()) && t.isWhitespace(p + 1)) {
        const qsizetype start = p + 2;
        return Markdown::LineElement{Markdown::unorderedList(Range(start, end - start), level), indent + 2};
    }

    // Block quote: ">" markers, each optionally followed by one space.
    qsizetype q = 0;
    while (t.is(p + q, u'>')) {
        ++q;
        if (t.is(p + q, u' ')) ++q;
    }
    if (q > 0) {
        const qsizetype start = p + q;
        return Markdown::LineElement{Markdown::blockquote(Range(start, end - start), level), indent + q};
    }

    if (level >= 1) return Markdown::LineElement{Markdown::codeblock(), indent};
    return std::nullopt;
}

std::optional<Markdown::InlineElement> nextInlineMarkdown(QStringView text, qsizetype location, qsizetype length)
{
    qsizetype end;
    clampRange(text, location, end, length);
    // Character tests look at the whole text, as far as its end; searches stay
    // inside the stretch.
    const Text t{text, text.size()};
    const CharacterSet& markers = Markdown::inlineMarkers();

    qsizetype start = location;
    while (start < end) {
        const qsizetype o = t.findAny(markers, start, end);
        if (o < 0) return std::nullopt;
        if (t.is(o - 1, u'\\')) { // escaped
            start = o + 1;
            continue;
        }

        if (text[o] == u'[') {
            const qsizetype r = t.find(u']', o + 1, end);
            if (r < 0) {
                start = o + 1;
                continue;
            }
            const qsizetype a = r + 1;
            const Range whole(o, a - o);
            if (t.is(o + 1, u'^') || t.is(o + 1, u'#')) {
                const Range inner(o + 2, r - (o + 2));
                if (t.is(o + 1, u'^')) return Markdown::InlineElement{whole, Markdown::footnoteInline(inner)};
                return Markdown::InlineElement{whole, Markdown::citationInline(std::nullopt, inner)};
            }
            if (t.is(o + 1, u'?') || t.is(o + 1, u'>')) {
                const bool glossary = t.is(o + 1, u'?');
                if (t.is(o + 2, u'(')) {
                    const qsizetype e = t.find(u')', o + 3, end);
                    // No ")", or a ")" after the "]" (‹[?(t] d)›): no entry here.
                    if (e < 0 || e >= r) {
                        start = o + 1;
                        continue;
                    }
                    const Range term(o + 3, e - (o + 3));
                    const Range def(e + 1, r - (e + 1));
                    return Markdown::InlineElement{whole, glossary ? Markdown::glossaryInline(term, def)
                                                                   : Markdown::acronymInline(term, def)};
                }
                const Range reference(o + 2, r - (o + 2));
                return Markdown::InlineElement{whole, glossary ? Markdown::glossaryReference(reference)
                                                               : Markdown::acronymReference(reference)};
            }
            if (t.is(a, u'(') || t.is(a, u'[')) {
                // The stretch ends with the "]": what follows lies outside it,
                // so this bracket cannot be a link here.
                if (a >= end) {
                    start = o + 1;
                    continue;
                }
                if (t.is(a, u'(')) {
                    const qsizetype e = t.find(u')', a + 1, end);
                    if (e < 0) return std::nullopt;
                    return Markdown::InlineElement{Range(o, e + 1 - o),
                                                   Markdown::linkInline(Range(o + 1, r - (o + 1)),
                                                                        Range(a + 1, e - (a + 1)))};
                }
                const qsizetype r2 = t.find(u']', a + 1, end);
                if (r2 < 0) return std::nullopt;
                const Range all(o, r2 + 1 - o);
                if (t.is(a + 1, u'#'))
                    return Markdown::InlineElement{all, Markdown::citationInline(Range(o + 1, r - (o + 1)),
                                                                                 Range(a + 2, r2 - (a + 2)))};
                return Markdown::InlineElement{all, Markdown::linkReference(Range(o + 1, r - (o + 1)),
                                                                            Range(a + 1, r2 - (a + 1)))};
            }
            return std::nullopt; // a plain bracketed text ends the scan
        }

        // Emphasis: a run of "*" or "_" closed by the same run.
        const QChar m = text[o];
        qsizetype p = o + 1;
        while (p < end && text[p] == m) ++p;
        if (p >= end) return std::nullopt;
        const qsizetype n = p - o;
        const QString closer(n, m);
        const qsizetype afterP = afterCharacter(text, p);
        const QStringView stretch = text.first(end);
        qsizetype q = stretch.indexOf(closer, afterP);
        while (q >= 0 && t.is(q - 1, u'\\')) q = stretch.indexOf(closer, q + 1);
        if (q >= 0) {
            const Range inner(o + n, q - (o + n));
            const Range whole(o, q + n - o);
            if (n == 1) return Markdown::InlineElement{whole, Markdown::italic(inner)};
            if (n == 2) return Markdown::InlineElement{whole, Markdown::bold(inner)};
            return Markdown::InlineElement{whole, Markdown::italicAndBold(inner)};
        }
        start = afterP;
    }
    return std::nullopt;
}

std::optional<FenceLine> fenceLine(QStringView text, qsizetype location, qsizetype end)
{
    end = std::min(end, text.size());
    qsizetype i = location;
    while (i < end && i - location < 4 && text[i] == u' ') ++i;
    if (i - location >= 4 || i >= end || (text[i] != u'`' && text[i] != u'~')) return std::nullopt;
    const QChar marker = text[i];
    qsizetype count = 0;
    while (i + count < end && text[i + count] == marker) ++count;
    if (count < 3) return std::nullopt;
    const QStringView rest = text.sliced(i + count, end - i - count);
    if (marker == u'`' && rest.contains(u'`')) return std::nullopt;
    const bool bare = std::all_of(rest.begin(), rest.end(), [](QChar c) { return c == u' ' || c == u'\t'; });
    return FenceLine{marker.unicode(), i - location, count, bare};
}

WhitespaceTrimmedParts whitespaceTrimmedParts(QStringView text)
{
    qsizetype lead = 0;
    while (lead < text.size() && text::isWhitespace(text[lead].unicode())) ++lead;
    if (lead == text.size()) return {text.toString(), QString(), QString()};
    qsizetype trail = text.size();
    while (trail > lead && text::isWhitespace(text[trail - 1].unicode())) --trail;
    return {text.first(lead).toString(), text.sliced(lead, trail - lead).toString(), text.sliced(trail).toString()};
}

} // namespace lumora
