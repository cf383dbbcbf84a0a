#pragma once

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/ConversionState.h"
#include "multimarkdown_binding/Headings.h"

#include <array>
#include <string>
#include <vector>

namespace lumora::dialect {

// MultiMarkdown's tables beyond cmark-gfm's. Captions ("[Caption]" or
// "[Caption][label]" on the line before a table or after its last row, with
// their inline formatting; the table then has an id and is a
// cross-reference target), several header rows, tables without a header,
// sections of body rows (each a <tbody>), columns whose cells wrap (a "+"
// in the separator), and column spans ("| a || b |": a cell ended by two
// pipes spans the next column too). The source wrote what cmark cannot read
// in a shape it can (see TableLines); this puts the tree back in shape.
// Tables, rows and cells are written by DialectHtml; they are handed back to
// the table extension, which frees what it keeps in them, before the tree
// goes.
class TableStyler {
public:
    TableStyler(ConversionState& state, Headings& headings);
    ~TableStyler();

    TableStyler(const TableStyler&) = delete;
    TableStyler& operator=(const TableStyler&) = delete;

    // Whether node is a table of the table extension.
    static bool isTable(const cmark_node* node);
    // Before the pass reads them: the tables in top (the body, or a block of
    // a note), or those given, reshaped, and the body's captions taken out
    // into paragraphs of their own beside them, for the pass to read.
    void styleTables(cmark_node* top);
    void styleTables(const std::vector<cmark_node*>& tables);
    // After the passes (cmark asks a node's extension what it may hold, and
    // ours does not know cells): the captions written (with the parser's
    // extensions) and their paragraphs gone, rows and cells bound to us.
    void finish(cmark_llist* extensions);

private:
    struct Table {
        cmark_node* node = nullptr;
        BlockStyle* style = nullptr;
        const TableShape* shape = nullptr;
        cmark_node* caption = nullptr; // the paragraph of the caption's inlines
        bool captionBelow = false;
        // The row a caption under the table was read as: its inlines' text
        // lies in its cell until they are written.
        NodeOwner captionRow;
        std::string id;
    };

    void styleTable(cmark_node* node);
    void takeCaption(Table& table);
    void finishTable(Table& table, cmark_llist* extensions);
    void bindRows(const Table& table);
    BlockStyle& rowStyle(bool header, bool opensSection, bool closesSection);
    BlockStyle& cellStyle(bool header, char alignment, int span);
    // Binds a node of the table extension to ours.
    void borrow(cmark_node* node, BlockStyle* style);

    ConversionState& state_;
    Headings& headings_;
    std::vector<Table> tables_;
    std::vector<cmark_node*> borrowed_; // the tables, rows and cells bound to our extension
    // The styles rows and cells of one span share, made when first needed.
    std::array<BlockStyle*, 8> rowStyles_{};
    std::array<BlockStyle*, 8> cellStyles_{};
};

} // namespace lumora::dialect
