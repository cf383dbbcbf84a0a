#pragma once

// Owners for what cmark-gfm hands out, each kind freed by its own function
// when its owner goes: a conversion that stops half-way (an allocation
// failing) leaks nothing, and no code frees a parser or a tree by hand.

#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
#include <cmark-gfm/node.h>

#include <memory>
#include <string>

namespace lumora::dialect {

struct NodeDeleter {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
};

struct ParserDeleter {
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};

struct SyntaxExtensionDeleter {
    void operator()(cmark_syntax_extension* extension) const
    {
        cmark_syntax_extension_free(cmark_get_default_mem_allocator(), extension);
    }
};

// Text cmark renders is allocated with the allocator of the tree it renders.
struct RenderedTextDeleter {
    cmark_mem* memory;
    void operator()(char* text) const { memory->free(text); }
};

// A whole tree (a parsed document), or a block that lies outside any tree
// until it is moved into one (with release()).
using NodeOwner = std::unique_ptr<cmark_node, NodeDeleter>;
using ParserOwner = std::unique_ptr<cmark_parser, ParserDeleter>;
using SyntaxExtensionOwner = std::unique_ptr<cmark_syntax_extension, SyntaxExtensionDeleter>;
using RenderedText = std::unique_ptr<char, RenderedTextDeleter>;

// Takes node out of its tree, when it is in one, and frees it with
// everything inside it.
inline void discardNode(cmark_node* node)
{
    const NodeOwner owned(node);
}

// The HTML cmark writes for node and everything inside it.
inline std::string renderedHtml(cmark_node* node, int options, cmark_llist* extensions)
{
    const RenderedText html(cmark_render_html(node, options, extensions), RenderedTextDeleter{cmark_node_mem(node)});
    return html ? std::string(html.get()) : std::string();
}

} // namespace lumora::dialect
