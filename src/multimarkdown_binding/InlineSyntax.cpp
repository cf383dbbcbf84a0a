#include "multimarkdown_binding/InlineSyntax.h"

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

// The extension structure: tildes our extension claims are handed on to the
// strikethrough's own function.
#include <cmark-gfm/syntax_extension.h>

#include <QChar>

#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lumora::dialect {

namespace {

const Tag insertionStart{{Mark::Kind::tag}, "<ins>"};
const Tag insertionEnd{{Mark::Kind::tag}, "</ins>"};
const Tag deletionStart{{Mark::Kind::tag}, "<del>"};
const Tag deletionEnd{{Mark::Kind::tag}, "</del>"};
const Tag substitutionMiddle{{Mark::Kind::tag}, "</del><ins>"};
const Tag highlightStart{{Mark::Kind::tag}, "<mark>"};
const Tag highlightEnd{{Mark::Kind::tag}, "</mark>"};
const Tag commentStart{{Mark::Kind::tag}, "<span class=\"critic comment\">"};
const Tag commentEnd{{Mark::Kind::tag}, "</span>"};

template <typename Search, typename IsCloser>
size_t nextCloser(Search& search, const cmark_node* paragraph, const unsigned char* data,
                  size_t length, size_t from, IsCloser isCloser)
{
    const bool same = search.paragraph == paragraph && search.data == data;
    if (same && from >= search.from && (search.found == std::string::npos || from <= search.found))
        return search.found;
    size_t at = from;
    while (at < length && !isCloser(at)) ++at;
    search = Search{paragraph, data, from, at < length ? at : std::string::npos};
    return search.found;
}

// The length of the letter or digit (of any script) starting at data[at];
// 0 for any other character.
size_t wordCharacterWidth(const unsigned char* data, size_t at, size_t length)
{
    const unsigned char lead = data[at];
    if (lead < 0x80)
        return (lead >= '0' && lead <= '9') || (lead >= 'a' && lead <= 'z') || (lead >= 'A' && lead <= 'Z') ? 1 : 0;
    size_t width = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (width == 0 || at + width > length) return 0;
    char32_t code = lead & (0x7F >> width);
    for (size_t k = 1; k < width; ++k) {
        if ((data[at + k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (data[at + k] & 0x3F);
    }
    return QChar::isLetterOrNumber(code) ? width : 0;
}

// White space, or ASCII punctuation: what may stand outside a pair of
// dollars.
bool isSpaceOrPunctuation(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || (c < 0x80 && std::ispunct(c));
}

bool isAsciiWord(unsigned char b)
{
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

// The stretch of plain text after data[at] that one text node may take:
// ASCII letters and digits, white space inside the line, and the markers
// marker(i) says open nothing. It stops before anything else, so that every
// other reading starts where it would have. White space before a line's end
// is passed over and left out of the text, as cmark does with its own text.
struct PlainText {
    size_t end;     // where the parser goes on
    size_t textEnd; // where the text stops
};

template <typename OpensNothing>
PlainText plainTextAfter(const unsigned char* data, size_t length, size_t at, OpensNothing marker)
{
    size_t end = at + 1;
    while (end < length) {
        const unsigned char b = data[end];
        if (isAsciiWord(b)) {
            // A "w" after anything else may begin a "www." link.
            if (b == 'w' && !isAsciiWord(data[end - 1])) break;
            ++end;
        } else if (b == ' ') {
            size_t spaces = end;
            bool tab = false;
            while (spaces < length && (data[spaces] == ' ' || data[spaces] == '\t')) tab |= data[spaces++] == '\t';
            if (spaces < length && (data[spaces] == '\n' || data[spaces] == '\r')) return {spaces, end};
            if (tab) break;
            end = spaces;
        } else if (marker(end)) {
            ++end;
        } else {
            break;
        }
    }
    return {end, end};
}

} // namespace

InlineSyntax::InlineSyntax(cmark_syntax_extension* extension, const DialectRenderer::Options& options,
                           NodeAnnotations& annotations)
    : options_(options), annotations_(annotations)
{
    cmark_syntax_extension_set_private(extension, this, [](cmark_mem*, void*) {});
    if (!options_.critic && !options_.dialect) return;
    std::vector<unsigned char> chars;
    if (options_.critic)
        for (unsigned c = insertionOpen; c <= commentClose; ++c)
            if (isMarker(static_cast<unsigned char>(c))) chars.push_back(static_cast<unsigned char>(c));
    if (options_.dialect)
        for (unsigned char c : {(unsigned char)'$', (unsigned char)'^', (unsigned char)'~', (unsigned char)inlineMathOpen, (unsigned char)displayMathOpen})
            chars.push_back(c);
    cmark_llist* triggers = nullptr;
    for (unsigned char c : chars)
        triggers = cmark_llist_append(cmark_get_default_mem_allocator(), triggers,
                                      reinterpret_cast<void*>(uintptr_t(c)));
    cmark_syntax_extension_set_special_inline_chars(extension, triggers);
    cmark_syntax_extension_set_match_inline_func(extension, matchInline);
    cmark_syntax_extension_set_inline_from_delim_func(extension, insertCritic);
}

cmark_node* InlineSyntax::matchInline(cmark_syntax_extension* extension, cmark_parser*, cmark_node* parent,
                                      unsigned char c, cmark_inline_parser* inlineParser)
{
    // cmark asks every extension about every character any of them
    // claims ("w" and ":" for the autolinker among them).
    const bool critic = c <= commentClose && isMarker(c);
    if (!critic && c != '$' && c != '^' && c != '~' && c != inlineMathOpen && c != displayMathOpen) return nullptr;
    auto* self = static_cast<InlineSyntax*>(cmark_syntax_extension_get_private(extension));
    if (critic) {
        if (!self->options_.critic) return nullptr;
        if (cmark_node* text = self->keepCriticOpenersAsText(c, parent, inlineParser)) return text;
        return matchCriticMarker(c, inlineParser);
    }
    if (!self->options_.dialect) return nullptr;
    if (cmark_node* span = self->matchDialectSpan(c, parent, inlineParser)) return span;
    return keepRunAsText(c, inlineParser);
}

// A dollar or caret that opens nothing becomes one text node with the
// plain text after it: letters, digits, spaces inside the line, and the
// dollars and carets that cannot open either (a dollar right after a
// letter, a digit or a dollar; a caret with no letter or digit right after
// it). The text stops before anything else, so every other reading starts
// where it would have. One node for such a stretch instead of one for each
// marker: each node added to a paragraph costs as much as the paragraph is
// deep in lists and quotes.
cmark_node* InlineSyntax::keepRunAsText(unsigned char c, cmark_inline_parser* inlineParser)
{
    if (c != '$' && c != '^') return nullptr;
    const cmark_chunk* chunk = cmark_inline_parser_get_chunk(inlineParser);
    const unsigned char* data = chunk->data;
    const size_t length = size_t(chunk->len);
    const size_t at = size_t(cmark_inline_parser_get_offset(inlineParser));
    if (at >= length || data[at] != c) return nullptr;
    if (c == '^') {
        // A caret after a bracket is left to the footnote's reading.
        const unsigned char before = at > 0 ? data[at - 1] : ' ';
        if (before == '[' || before == escapedOpenBracket) return nullptr;
    }
    // A dollar after a letter, a digit or a dollar cannot open, nor can a
    // caret with no letter or digit after it.
    const PlainText text = plainTextAfter(data, length, at, [&](size_t i) {
        if (data[i] == '$') return data[i - 1] == '$' || isAsciiWord(data[i - 1]);
        if (data[i] != '^') return false;
        const unsigned char next = i + 1 < length ? data[i + 1] : ' ';
        return next == ' ' || next == '\t' || next == '\n' || next == '^' || next == '[' || next == ']';
    });
    if (text.textEnd <= at + 1) return nullptr;
    cmark_inline_parser_set_offset(inlineParser, int(text.end));
    return newText(std::string_view(reinterpret_cast<const char*>(data) + at, text.textEnd - at));
}

// Math ("$...$", "$$...$$", "\\(...\\)", "\\[...\\]"), superscripts
// ("x^2^", "x^2") and subscripts ("H~2~O", "H~2") become our raw HTML;
// nothing when the character opens none of them here.
cmark_node* InlineSyntax::matchDialectSpan(unsigned char c, const cmark_node* paragraph,
                                           cmark_inline_parser* inlineParser)
{
    const cmark_chunk* chunk = cmark_inline_parser_get_chunk(inlineParser);
    const unsigned char* data = chunk->data;
    const size_t length = size_t(chunk->len);
    const size_t at = size_t(cmark_inline_parser_get_offset(inlineParser));
    const unsigned char before = at > 0 ? data[at - 1] : ' ';
    auto isSpace = [](unsigned char b) { return b == ' ' || b == '\t' || b == '\n'; };

    size_t contentStart = 0;
    size_t contentEnd = 0;
    size_t end = 0; // after the closing delimiter
    std::string_view open;
    std::string_view close;
    const char* element = nullptr;
    if (c == inlineMathOpen || c == displayMathOpen) {
        const unsigned char closer = c == inlineMathOpen ? inlineMathClose : displayMathClose;
        CloserSearch& search = c == inlineMathOpen ? inlineMathSearch_ : displayMathSearch_;
        const size_t found = nextCloser(search, paragraph, data, length, at + 1, [&](size_t i) { return data[i] == closer; });
        if (found == std::string::npos) return nullptr;
        contentStart = at + 1;
        contentEnd = found;
        end = found + 1;
        open = c == inlineMathOpen ? "\\(" : "\\[";
        close = c == inlineMathOpen ? "\\)" : "\\]";
    } else if (c == '$') {
        // No white space inside the dollars, and white space or
        // punctuation outside them: prices ("$5 and $6", "US$5") stay
        // text, "($x$)" and "$x$." are math. A closer pairs with the
        // nearest dollar before it that may open ("$5 and $x$" is a price
        // and a formula), and a single dollar beside another neither opens
        // nor closes.
        const bool display = at + 1 < length && data[at + 1] == '$';
        const size_t width = display ? 2 : 1;
        const auto mayOpen = [&](size_t i) {
            const unsigned char previous = i > 0 ? data[i - 1] : ' ';
            return previous != '$' && previous != '\\' && isSpaceOrPunctuation(previous) && i + width < length
                && !isSpace(data[i + width]) && (display || data[i + 1] != '$');
        };
        if (!mayOpen(at)) return nullptr;
        const auto closes = [&](size_t i) {
            if (isSpace(data[i - 1]) || data[i - 1] == '\\' || (!display && data[i - 1] == '$')) return false;
            const size_t after = i + width;
            if (display && (after > length || data[i + 1] != '$')) return false;
            return after >= length || (data[after] != '$' && isSpaceOrPunctuation(data[after]));
        };
        CloserSearch& search = display ? displayDollarSearch_ : dollarSearch_;
        // Stops at a closer or at a later dollar that may open.
        const size_t found = nextCloser(search, paragraph, data, length, at + width + 1, [&](size_t i) {
            if (data[i] != '$' || (display && (i + 1 >= length || data[i + 1] != '$'))) return false;
            return closes(i) || mayOpen(i);
        });
        if (found == std::string::npos || !closes(found)) return nullptr;
        contentStart = at + width;
        contentEnd = found;
        end = found + width;
        open = display ? "\\[" : "\\(";
        close = display ? "\\]" : "\\)";
    } else if (c == '^' || c == '~') {
        // A double tilde is the strikethrough's, a caret after a bracket a
        // footnote's.
        if (c == '~' && (before == '~' || (at + 1 < length && data[at + 1] == '~'))) return nullptr;
        if (c == '^' && (before == '[' || before == escapedOpenBracket)) return nullptr;
        // "x^2^", "H~2~O": no white space inside the pair, nor a bracket
        // (which may end a link's text).
        size_t i = at + 1;
        while (i < length && i - at <= scriptLimit && data[i] != c && !isSpace(data[i]) && data[i] != '['
               && data[i] != ']')
            ++i;
        const bool paired =
            i < length && data[i] == c && i > at + 1 && !(c == '~' && i + 1 < length && data[i + 1] == '~');
        if (paired) {
            contentStart = at + 1;
            contentEnd = i;
            end = i + 1;
        } else {
            // "x^2", "m^2", "H~2": right after a character, a run of
            // letters and digits up to the next character of another kind.
            // A caret may also begin its block ("^word").
            if (isSpace(before) && !(c == '^' && at == 0)) return nullptr;
            size_t run = at + 1;
            while (run < length) {
                const size_t width = wordCharacterWidth(data, run, length);
                if (width == 0) break;
                run += width;
            }
            if (run == at + 1) return nullptr;
            contentStart = at + 1;
            contentEnd = run;
            end = run;
        }
        element = c == '^' ? "sup" : "sub";
    } else {
        return nullptr;
    }

    const std::string source = restoredText(
        std::string_view(reinterpret_cast<const char*>(data) + contentStart, contentEnd - contentStart), false);
    Raw& raw = annotations_.newRaw();
    if (element) {
        raw.html = std::string("<") + element + ">";
        appendEscapedHtml(raw.html, source);
        raw.html += std::string("</") + element + ">";
    } else {
        raw.html = "<span class=\"math\">";
        appendEscapedHtml(raw.html, std::string(open) + source + std::string(close));
        raw.html += "</span>";
    }
    cmark_inline_parser_set_offset(inlineParser, int(end));
    return annotations_.newMark(&raw, source);
}

// Whether the CriticMarkup opener at data[at] has no closer of its kind
// after it in the paragraph, so that it can pair with nothing.
bool InlineSyntax::opensNothing(unsigned char c, const cmark_node* paragraph, const unsigned char* data,
                                size_t length, size_t at)
{
    int kind = -1;
    switch (c) {
    case insertionOpen: kind = 0; break;
    case deletionOpen: kind = 1; break;
    case substitutionOpen: kind = 2; break;
    case highlightOpen: kind = 3; break;
    case commentOpen: kind = 4; break;
    default: return false;
    }
    const unsigned char closer = static_cast<unsigned char>(c + 1);
    return nextCloser(criticSearches_[kind], paragraph, data, length, at + 1,
                      [&](size_t i) { return data[i] == closer; })
        == std::string::npos;
}

// A CriticMarkup opener with no closer of its kind after it becomes one
// text node with the plain text after it (letters, digits, spaces inside
// the line) and the openers there that can pair with nothing either: it
// stays as written, as an opener left unpaired does, in one node instead
// of two for each opener (each node added to a paragraph costs as much as
// the paragraph is deep in lists and quotes).
cmark_node* InlineSyntax::keepCriticOpenersAsText(unsigned char c, const cmark_node* paragraph,
                                                  cmark_inline_parser* inlineParser)
{
    const cmark_chunk* chunk = cmark_inline_parser_get_chunk(inlineParser);
    const unsigned char* data = chunk->data;
    const size_t length = size_t(chunk->len);
    const size_t at = size_t(cmark_inline_parser_get_offset(inlineParser));
    if (at >= length || data[at] != c || !opensNothing(c, paragraph, data, length, at)) return nullptr;
    const PlainText text =
        plainTextAfter(data, length, at, [&](size_t i) { return opensNothing(data[i], paragraph, data, length, i); });
    cmark_inline_parser_set_offset(inlineParser, int(text.end));
    return newText(std::string_view(reinterpret_cast<const char*>(data) + at, text.textEnd - at));
}

// A CriticMarkup marker met by the inline parser becomes a text node of
// its own and goes on the delimiter stack.
cmark_node* InlineSyntax::matchCriticMarker(unsigned char c, cmark_inline_parser* inlineParser)
{
    if (c < insertionOpen || c > commentClose || !isMarker(c)) return nullptr;
    cmark_inline_parser_advance_offset(inlineParser);
    // The marker stays in the text: should it pair with nothing, the
    // pass turns it back into what the writer typed (after smart
    // typography, which must not make "{--" a dash).
    cmark_node* node = newText(std::string(1, char(c)));
    switch (c) {
    case insertionOpen:
    case deletionOpen:
    case substitutionOpen:
    case highlightOpen:
    case commentOpen:
        cmark_inline_parser_push_delimiter(inlineParser, c, 1, 0, node);
        break;
    case substitutionSplit:
        cmark_inline_parser_push_delimiter(inlineParser, c, 0, 0, node);
        break;
    default:
        // A closer carries its opener's marker, so that the two pair up.
        cmark_inline_parser_push_delimiter(inlineParser, static_cast<unsigned char>(c - 1), 0, 1, node);
        break;
    }
    return node;
}

// An opener and a closer of one kind met: the text between them becomes
// the change (or is kept or dropped when changes are accepted or
// rejected). Every delimiter between them leaves the stack, so each is
// looked at once; a substitution without "~>" is left as written.
delimiter* InlineSyntax::insertCritic(cmark_syntax_extension* extension, cmark_parser* parser,
                                     cmark_inline_parser* inlineParser, delimiter* opener, delimiter* closer)
{
    // cmark hands every delimiter of a character to the first extension
    // that claims it: tildes we leave to the strikethrough are its.
    if (opener->delim_char == '~') {
        cmark_syntax_extension* strikethrough = cmark_find_syntax_extension("strikethrough");
        if (!strikethrough || !strikethrough->insert_inline_from_delim) return closer->next;
        return strikethrough->insert_inline_from_delim(strikethrough, parser, inlineParser, opener, closer);
    }
    auto* self = static_cast<InlineSyntax*>(cmark_syntax_extension_get_private(extension));
    delimiter* const after = closer->next;
    const unsigned char kind = opener->delim_char;
    cmark_node* const open = opener->inl_text;
    cmark_node* const close = closer->inl_text;

    cmark_node* split = nullptr;
    for (delimiter* d = closer; d && d != opener;) {
        delimiter* previous = d->previous;
        if (d->delim_char == substitutionSplit && d->inl_text->parent == open->parent) split = d->inl_text;
        cmark_inline_parser_remove_delimiter(inlineParser, d);
        d = previous;
    }
    cmark_inline_parser_remove_delimiter(inlineParser, opener);
    if (kind == substitutionOpen && !split) return after;

    const bool accept = self->options_.criticAccept;
    const bool reject = self->options_.criticReject && !accept;
    const bool marking = !accept && !reject;
    const Tag* startTag = nullptr;
    const Tag* endTag = nullptr;
    switch (kind) {
    case insertionOpen:
        if (reject) freeBetween(open, close);
        if (marking) startTag = &insertionStart, endTag = &insertionEnd;
        break;
    case deletionOpen:
        if (accept) freeBetween(open, close);
        if (marking) startTag = &deletionStart, endTag = &deletionEnd;
        break;
    case highlightOpen:
        if (marking) startTag = &highlightStart, endTag = &highlightEnd;
        break;
    case commentOpen:
        if (!marking) freeBetween(open, close);
        else startTag = &commentStart, endTag = &commentEnd;
        break;
    case substitutionOpen:
        if (accept) freeBetween(open, split);
        if (reject) freeBetween(split, close);
        if (marking) {
            startTag = &deletionStart, endTag = &insertionEnd;
            cmark_node_insert_before(split, self->annotations_.newMark(&substitutionMiddle));
        }
        discardNode(split);
        break;
    default:
        break;
    }
    if (startTag) {
        cmark_node_insert_before(open, self->annotations_.newMark(startTag));
        cmark_node_insert_before(close, self->annotations_.newMark(endTag));
    }
    discardNode(open);
    discardNode(close);
    return after;
}

} // namespace lumora::dialect
