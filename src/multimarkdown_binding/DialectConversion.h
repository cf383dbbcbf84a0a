#pragma once

#include "multimarkdown_binding/BracketReferences.h"
#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/ConversionMemory.h"
#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/DialectRenderer.h"
#include "multimarkdown_binding/ElementStyles.h"
#include "multimarkdown_binding/Headings.h"
#include "multimarkdown_binding/InlineSyntax.h"
#include "multimarkdown_binding/Notes.h"
#include "multimarkdown_binding/SmartTypography.h"
#include "multimarkdown_binding/TableStyler.h"
#include "multimarkdown_binding/Terms.h"

#include <string>
#include <vector>

namespace lumora::dialect {

// One conversion of a prepared source to HTML (see DialectRenderer): cmark
// parses the body and the notes with our extension attached; the parts
// below shape the tree before, during and after one pass over it, which
// applies smart typography and puts back the markers cmark left in code,
// raw HTML and links; cmark renders the tree, with DialectHtml writing our
// nodes. Used once.
class DialectConversion {
public:
    DialectConversion(const DialectSource& source, const DialectRenderer::Options& options);
    ~DialectConversion();

    DialectConversion(const DialectConversion&) = delete;
    DialectConversion& operator=(const DialectConversion&) = delete;

    // Converts, and hands the HTML to take (see DialectRenderer::renderHtml).
    void run(const std::function<void(std::string_view html)>& take);

    // Parses only, as run does but with source positions (which change no
    // HTML), and hands the body's tree and the notes' (null when there are
    // no notes) to read, for readers of where things stand in the text.
    void readTrees(const std::function<void(cmark_node* body, cmark_node* notes)>& read);

private:
    ParserOwner newParser(int options) const;
    void parse(int options = cmarkOptions);
    void shapeBlocks();

    void walk(cmark_node* root);
    bool needsNoPass(const cmark_node* node) const;
    bool enter(cmark_node* node);
    void enterLink(cmark_node* node);
    void enterReference(cmark_node* node, Reference& reference);
    void leave(cmark_node* node);
    void smarten(cmark_node* node);
    void resolveQuotes();
    bool hasVariables() const;

    // Declared in the order they must be set up; they go in the reverse
    // one: the tables go back to their extension before the trees go, our
    // extension, which nodes of the trees name, goes after them, and the
    // memory of it all last.
    ConversionMemory memory_;
    SyntaxExtensionOwner extension_;
    ConversionState state_;
    InlineSyntax inlineSyntax_;
    ParserOwner parser_;
    ParserOwner notesParser_;
    NodeOwner root_;
    NodeOwner notesRoot_;
    Notes notes_;
    Terms terms_;
    Headings headings_;
    TableStyler tables_;
    ElementStyles elements_;
    BracketReferences references_;

    bool restoring_;                 // markers may have to be turned back
    bool findingReferences_ = false; // bracket pairs may be references
    bool wholeTree_ = false;         // every block needs the pass
    bool restoreHere_ = false;       // the block being read may hold markers
    SmartTypography typography_;
    std::string smartText_; // reused for every text
    // The texts of the block being read that hold quotes still to resolve
    // (see SmartTypography), in the order they were written.
    std::vector<cmark_node*> quotesToResolve_;
};

} // namespace lumora::dialect
