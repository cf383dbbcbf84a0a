#pragma once

#include "multimarkdown_binding/ConversionState.h"

#include <string_view>
#include <vector>

namespace lumora::dialect {

// The shapes MultiMarkdown gives elements cmark writes otherwise: a
// paragraph of one image as a figure, fenced code with its language as a
// class, raw source ("`x`{=html}", "```{=html}") passed through or left
// out, definition lists, a number at the start of a list item as its text,
// code in a list item indented as MultiMarkdown counts, and the attributes
// of links and images whose definitions have some. DialectHtml writes what
// it styles.
class ElementStyles {
public:
    explicit ElementStyles(ConversionState& state);

    ElementStyles(const ElementStyles&) = delete;
    ElementStyles& operator=(const ElementStyles&) = delete;

    // Before the pass: the terms and definitions the source laid out go
    // into one <dl> for each run of them.
    void buildDefinitionLists(cmark_node* root);

    // During the pass, as it enters a list item, an inline container, a
    // fenced code block, a link or an image, or leaves a paragraph.
    void keepNumberAsText(cmark_node* item);
    void alignListCode(cmark_node* code);
    void convertRawSpans(cmark_node* container);
    void styleCodeBlock(cmark_node* node);
    void takeLinkAttributes(cmark_node* node);
    // extensions: the parser's, for the figure's caption.
    void styleParagraph(cmark_node* paragraph, cmark_llist* extensions);

private:
    bool isTerm(const cmark_node* node, const cmark_node* root) const;
    bool isDefinitions(const cmark_node* node, const cmark_node* root) const;
    std::string_view sourceLine(int line);

    ConversionState& state_;
    // Where each line of the document being read starts, made when first
    // needed.
    std::vector<size_t> lineStarts_;
    DialectSource::Part linesOf_ = DialectSource::Part::body;
    // The lists of the chain keepNumberAsText last left as cmark read them,
    // and which of the items below it the pass is still to enter (each the
    // first item of keptChain_[keptNext_], until keptUntil_), all staying
    // as they are.
    std::vector<const cmark_node*> keptChain_;
    size_t keptNext_ = 0;
    size_t keptUntil_ = 0;
    BlockStyle definitionStyle_{BlockStyle::Kind::definition, {}, nullptr};
};

} // namespace lumora::dialect
