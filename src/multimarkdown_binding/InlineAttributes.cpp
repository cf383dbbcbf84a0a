#include "multimarkdown_binding/InlineAttributes.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/DialectTree.h"
#include "multimarkdown_binding/LinkDefinitions.h"

#include <string_view>

namespace lumora::dialect {

namespace {

// What the writer typed for an address cmark's autolinker made a link of:
// its one text; nothing for any other link.
std::optional<std::string_view> typedAddress(const cmark_node* link)
{
    const cmark_node* text = link->first_child;
    if (!text || text != link->last_child || text->type != CMARK_NODE_TEXT) return std::nullopt;
    const std::string_view shown = literalOf(text);
    const std::string_view url = viewOf(link->as.link.url);
    if (shown.empty() || url.size() < shown.size() || url.substr(url.size() - shown.size()) != shown)
        return std::nullopt;
    return shown;
}

// The text between the parentheses, up to the closing one outside quotes
// and inner pairs of parentheses; nothing past a bracket, a hard line
// break, another kind of node or labelLimit bytes.
std::optional<std::string> parenthesized(cmark_node*& node, size_t& offset)
{
    std::string text;
    char quote = '\0';
    int depth = 0;
    for (; node; node = node->next, offset = 0) {
        if (node->type == CMARK_NODE_SOFTBREAK) {
            text += ' ';
            continue;
        }
        if (node->type == CMARK_NODE_LINK) {
            const std::optional<std::string_view> address = typedAddress(node);
            if (!address) return std::nullopt;
            text.append(*address);
            continue;
        }
        if (node->type == CMARK_NODE_HTML_INLINE && !node->extension) {
            // "<url with spaces>", which cmark read as a tag.
            text.append(literalOf(node));
            if (text.size() > labelLimit) return std::nullopt;
            continue;
        }
        if (node->type != CMARK_NODE_TEXT) return std::nullopt;
        const std::string_view literal = literalOf(node);
        for (; offset < literal.size(); ++offset) {
            const char c = literal[offset];
            if (c == '[' || c == ']' || text.size() > labelLimit) return std::nullopt;
            if (quote) {
                if (c == quote) quote = '\0';
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && depth > 0) {
                --depth;
            } else if (c == ')') {
                ++offset;
                return text;
            } else if ((c == '"' || c == '\'') && (text.empty() || text.back() == ' ' || text.back() == '=')) {
                quote = c;
            }
            text += c == '\t' || c == '\n' ? ' ' : c;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<InlineDestination> destinationWithAttributes(cmark_node* node, size_t open)
{
    size_t offset = open + 1;
    cmark_node* at = node;
    const std::optional<std::string> inside = parenthesized(at, offset);
    if (!inside || !at) return std::nullopt;

    // Markers the text still holds are what the writer typed.
    const std::string typed = restoredText(*inside, true);
    const std::string_view text = typed;
    size_t i = 0;
    auto skipSpaces = [&] {
        while (i < text.size() && text[i] == ' ') ++i;
    };
    skipSpaces();
    InlineDestination destination;
    if (i < text.size() && text[i] == '<') {
        const size_t close = text.find('>', i);
        if (close == std::string_view::npos) return std::nullopt;
        destination.url = std::string(text.substr(i + 1, close - i - 1));
        if (destination.url.find('<') != std::string::npos) return std::nullopt;
        i = close + 1;
    } else {
        // Pairs of parentheses may stand in it ("Foo_(bar)").
        const size_t start = i;
        int depth = 0;
        while (i < text.size() && text[i] != ' ') {
            if (text[i] == '<' || text[i] == '"' || text[i] == '\'') return std::nullopt;
            if (text[i] == '(') ++depth;
            if (text[i] == ')' && --depth < 0) return std::nullopt;
            ++i;
        }
        if (depth != 0) return std::nullopt;
        destination.url = std::string(text.substr(start, i - start));
    }
    if (destination.url.empty() || (i < text.size() && text[i] != ' ')) return std::nullopt;
    skipSpaces();
    if (i < text.size() && (text[i] == '"' || text[i] == '\'' || text[i] == '(')) {
        const size_t close = text.find(text[i] == '(' ? ')' : text[i], i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        destination.title = std::string(text.substr(i + 1, close - i - 1));
        i = close + 1;
        if (i < text.size() && text[i] != ' ') return std::nullopt;
    }
    if (!parseLinkAttributes(text.substr(i), destination.attributes)) return std::nullopt;
    destination.endNode = at;
    destination.endOffset = offset;
    return destination;
}

} // namespace lumora::dialect
