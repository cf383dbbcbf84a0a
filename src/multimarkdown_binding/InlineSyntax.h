#pragma once

#include "multimarkdown_binding/DialectRenderer.h"
#include "multimarkdown_binding/NodeAnnotations.h"

#include <cmark-gfm-extension_api.h>

#include <string>

namespace lumora::dialect {

// The inline syntax our extension reads while cmark parses: CriticMarkup
// (from the markers the source left, through cmark's delimiter stack), math,
// superscripts and subscripts. Set up on the conversion's extension, whose
// private data it becomes; it must outlive every parse with that extension.
class InlineSyntax {
public:
    InlineSyntax(cmark_syntax_extension* extension, const DialectRenderer::Options& options,
                 NodeAnnotations& annotations);

    InlineSyntax(const InlineSyntax&) = delete;
    InlineSyntax& operator=(const InlineSyntax&) = delete;

private:
    // Where the next closing delimiter of one kind lies at or after from in
    // the paragraph being parsed. The answer is kept, so that many opening
    // delimiters before one closing one (or none) cost one scan in all.
    struct CloserSearch {
        const cmark_node* paragraph = nullptr;
        const unsigned char* data = nullptr;
        size_t from = 0;
        size_t found = std::string::npos;
    };

    static cmark_node* matchInline(cmark_syntax_extension* extension, cmark_parser* parser, cmark_node* parent,
                                   unsigned char c, cmark_inline_parser* inlineParser);
    cmark_node* matchDialectSpan(unsigned char c, const cmark_node* paragraph, cmark_inline_parser* inlineParser);
    static cmark_node* keepRunAsText(unsigned char c, cmark_inline_parser* inlineParser);
    cmark_node* keepCriticOpenersAsText(unsigned char c, const cmark_node* paragraph, cmark_inline_parser* inlineParser);
    bool opensNothing(unsigned char c, const cmark_node* paragraph, const unsigned char* data, size_t length, size_t at);
    static cmark_node* matchCriticMarker(unsigned char c, cmark_inline_parser* inlineParser);
    static delimiter* insertCritic(cmark_syntax_extension* extension, cmark_parser* parser,
                                   cmark_inline_parser* inlineParser, delimiter* opener, delimiter* closer);

    const DialectRenderer::Options& options_;
    NodeAnnotations& annotations_;
    CloserSearch dollarSearch_;
    CloserSearch displayDollarSearch_;
    CloserSearch inlineMathSearch_;
    CloserSearch displayMathSearch_;
    CloserSearch criticSearches_[5];
};

} // namespace lumora::dialect
