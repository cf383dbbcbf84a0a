#pragma once

#include "multimarkdown_binding/ConversionState.h"

namespace lumora::dialect {

// The shapes MultiMarkdown gives elements cmark writes otherwise: a
// paragraph of one image as a figure, fenced code with its language as a
// class, raw source ("`x`{=html}", "```{=html}") passed through or left
// out, definition lists, and the attributes of links and images whose
// definitions have some. DialectHtml writes what it styles.
class ElementStyles {
public:
    explicit ElementStyles(ConversionState& state);

    ElementStyles(const ElementStyles&) = delete;
    ElementStyles& operator=(const ElementStyles&) = delete;

    // Before the pass: the terms and definitions the source laid out go
    // into one <dl> for each run of them.
    void buildDefinitionLists(cmark_node* root);

    // During the pass, as it enters an inline container, a fenced code
    // block, a link or an image, or leaves a paragraph.
    void convertRawSpans(cmark_node* container);
    void styleCodeBlock(cmark_node* node);
    void takeLinkAttributes(cmark_node* node);
    // extensions: the parser's, for the figure's caption.
    void styleParagraph(cmark_node* paragraph, cmark_llist* extensions);

private:
    bool isTerm(const cmark_node* node, const cmark_node* root) const;
    bool isDefinitions(const cmark_node* node, const cmark_node* root) const;

    ConversionState& state_;
    BlockStyle definitionStyle_{BlockStyle::Kind::definition, {}, nullptr};
};

} // namespace lumora::dialect
