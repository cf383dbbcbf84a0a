#pragma once

#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/Headings.h"

#include <vector>

namespace lumora::dialect {

// MultiMarkdown's tables beyond cmark-gfm's: captions ("[Caption]" or
// "[Caption][label]" on the line before a table or after its last row, the
// table then a cross-reference target) and column spans ("| a || b |": a
// cell ended by two pipes spans the next column too). The tables and cells
// it styles are written by DialectHtml; they are handed back to the table
// extension, which frees what it keeps in them, before the tree goes.
class TableStyler {
public:
    TableStyler(ConversionState& state, Headings& headings);
    ~TableStyler();

    TableStyler(const TableStyler&) = delete;
    TableStyler& operator=(const TableStyler&) = delete;

    // Before the pass: the body's tables and their captions.
    void styleTables(cmark_node* root);
    // After the pass (cmark asks a node's extension what it may hold, and
    // ours does not know cells): cells ended by "||" span the next column.
    void spanColumns();

private:
    void styleTable(cmark_node* table);
    void spanColumns(cmark_node* table);
    // Binds a node of the table extension to ours.
    void borrow(cmark_node* node, BlockStyle* style);

    ConversionState& state_;
    Headings& headings_;
    std::vector<cmark_node*> tables_;
    std::vector<cmark_node*> borrowed_; // the tables and the cells bound to our extension
};

} // namespace lumora::dialect
