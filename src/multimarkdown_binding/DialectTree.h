#pragma once

// Small helpers for cmark-gfm nodes, shared by the tree pass of a conversion.

#include "multimarkdown_binding/ConversionMemory.h"

#include <cmark-gfm.h>
// The node structure of the installed cmark-gfm: the pass over the tree
// reads literals in place instead of copying every text.
#include <cmark-gfm/node.h>

#include <string>
#include <string_view>

namespace lumora::dialect {

inline constexpr size_t labelLimit = 1000; // bytes of a locator, term or expansion read at most
inline constexpr size_t scriptLimit = 256; // bytes of a superscript or subscript at most

inline std::string_view literalOf(const cmark_node* node)
{
    return {reinterpret_cast<const char*>(node->as.literal.data), size_t(node->as.literal.len)};
}

inline std::string_view viewOf(const cmark_chunk& chunk)
{
    return {reinterpret_cast<const char*>(chunk.data), size_t(chunk.len)};
}

inline bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

inline bool isBlock(const cmark_node* node)
{
    return (node->type & CMARK_NODE_TYPE_MASK) == CMARK_NODE_TYPE_BLOCK;
}

// Whether node's children are blocks.
inline bool holdsBlocks(const cmark_node* node)
{
    switch (node->type) {
    case CMARK_NODE_DOCUMENT:
    case CMARK_NODE_BLOCK_QUOTE:
    case CMARK_NODE_LIST:
    case CMARK_NODE_ITEM:
    case CMARK_NODE_CUSTOM_BLOCK:
        return true;
    default:
        return false;
    }
}

// Asks for node's next sibling to be brought into the cache. A pass over
// the tree of a long document mostly waits for memory, one node after
// another; the sibling's place is known while the node's own children are
// read, so it is there by the time the pass gets to it.
inline void prefetchNext(const cmark_node* node)
{
    if (const cmark_node* next = node->next) {
        __builtin_prefetch(next);
        __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);
    }
}

// Asks for the memory of an inline container's children. cmark made them
// one after another as it read the container's text, and they lie one after
// another in the conversion's memory (see ConversionMemory), so asking for
// the memory after the first brings them in together, instead of one after
// the other as a pass follows their links.
inline void prefetchChildren(const cmark_node* node)
{
    constexpr size_t span = 2048;
    if (const cmark_node* first = node->first_child) {
        const char* start = reinterpret_cast<const char*>(first);
        for (size_t offset = 0; offset < span; offset += 64) __builtin_prefetch(start + offset);
    }
}

inline cmark_node* newText(std::string_view text)
{
    cmark_node* node = newNode(CMARK_NODE_TEXT);
    const std::string copy(text);
    cmark_node_set_literal(node, copy.c_str());
    return node;
}

inline cmark_node* newHtmlInline(const std::string& html)
{
    cmark_node* node = newNode(CMARK_NODE_HTML_INLINE);
    cmark_node_set_literal(node, html.c_str());
    return node;
}

// Frees the siblings strictly between after and before.
inline void freeBetween(cmark_node* after, cmark_node* before)
{
    cmark_node* node = after->next;
    while (node && node != before) {
        cmark_node* next = node->next;
        cmark_node_free(node);
        node = next;
    }
}

// Plain text of node and everything inside it, appended to text; false when
// text would grow beyond labelLimit.
inline bool appendPlainText(std::string& text, cmark_node* top)
{
    cmark_node* node = top;
    while (node) {
        switch (node->type) {
        case CMARK_NODE_TEXT:
        case CMARK_NODE_CODE:
            text.append(literalOf(node));
            break;
        case CMARK_NODE_HTML_INLINE:
            if (node->extension) text.append(literalOf(node));
            break;
        case CMARK_NODE_SOFTBREAK:
        case CMARK_NODE_LINEBREAK:
            text += ' ';
            break;
        default:
            break;
        }
        if (text.size() > labelLimit) return false;
        if (node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node != top && !node->next) node = node->parent;
        node = node == top ? nullptr : node->next;
    }
    return true;
}

// Text with runs of white space as one space, trimmed.
inline std::string collapsedSpaces(std::string_view text)
{
    std::string out;
    bool space = false;
    for (char c : text) {
        if (isWhitespace(c)) {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

} // namespace lumora::dialect
