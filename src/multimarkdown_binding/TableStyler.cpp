#include "multimarkdown_binding/TableStyler.h"

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <cmark-gfm-core-extensions.h>

#include <string_view>
#include <utility>

namespace lumora::dialect {

namespace {

bool isNamed(const cmark_node* node, std::string_view name)
{
    const char* type = cmark_node_get_type_string(const_cast<cmark_node*>(node));
    return type && name == type;
}

// An empty cell written as "||": cmark ends it before it starts.
bool isSpanMarker(const cmark_node* cell)
{
    return !cell->first_child && cell->end_column < cell->start_column && cell->start_column > 0;
}

bool isHeaderRow(cmark_node* row)
{
    return cmark_gfm_extensions_get_table_row_is_header(row) != 0;
}

// "[Caption]" or "[Caption][label]" as a paragraph's whole plain text. The
// caption may hold brackets of its own, in pairs (a note's reference, say);
// the label holds none.
bool captionOf(cmark_node* block, std::string& caption, std::string& label)
{
    caption.clear();
    label.clear();
    std::string plain;
    for (cmark_node* child = block->first_child; child; child = child->next)
        if (!appendPlainText(plain, child)) return false;
    const std::string_view text = trimmedSpaces(plain);
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
    size_t depth = 0;
    size_t close = 0;
    for (size_t i = 0; i < text.size() && close == 0; ++i) {
        if (text[i] == '[') ++depth;
        else if (text[i] == ']' && --depth == 0) close = i;
    }
    if (close <= 1) return false;
    if (close + 1 < text.size()) {
        const std::string_view rest = text.substr(close + 1);
        if (rest.size() < 3 || rest.front() != '[' || rest.find_first_of("[]", 1) != rest.size() - 1) return false;
        label = restoredText(rest.substr(1, rest.size() - 2), true);
    }
    caption = restoredText(text.substr(1, close - 1), true);
    return true;
}

bool captionRow(cmark_node* row, std::string& caption, std::string& label)
{
    cmark_node* first = row->first_child;
    if (!first) return false;
    for (cmark_node* cell = first->next; cell; cell = cell->next)
        if (cell->first_child) return false;
    return captionOf(first, caption, label);
}

// Takes the brackets around a caption, and the label after it, out of the
// inlines of block, whose first and last texts hold them; false, with block
// as it was, when they are not there as text.
bool removeCaptionBrackets(cmark_node* block, bool labelled)
{
    cmark_node* first = block->first_child;
    if (!first || first->type != CMARK_NODE_TEXT || literalOf(first).empty() || literalOf(first)[0] != '[')
        return false;
    // From the end: the closing "]", and with a label, the label up to its
    // "[" and the "]" before that.
    enum { closing, labelText, labelOpening, done } phase = closing;
    std::vector<std::pair<cmark_node*, size_t>> kept; // the texts cut short, and the bytes they keep
    for (cmark_node* node = block->last_child; node && phase != done; node = node->prev) {
        if (node->type != CMARK_NODE_TEXT) return false;
        const std::string_view text = literalOf(node);
        size_t keep = text.size();
        for (; keep > 0 && phase != done; --keep) {
            const char c = text[keep - 1];
            if (phase == labelText) {
                if (c == '[') phase = labelOpening;
            } else if (c != ']') {
                return false;
            } else {
                phase = phase == closing && labelled ? labelText : done;
            }
        }
        if (node == first && keep == 0) return false;
        kept.emplace_back(node, keep);
    }
    if (phase != done) return false;
    for (const auto& [node, keep] : kept) {
        if (keep == 0) {
            discardNode(node);
        } else {
            const std::string text(literalOf(node).substr(0, keep));
            cmark_node_set_literal(node, text.c_str());
        }
    }
    if (literalOf(first).size() == 1) {
        discardNode(first);
    } else {
        const std::string text(literalOf(first).substr(1));
        cmark_node_set_literal(first, text.c_str());
    }
    return true;
}

// The header rows written under the separator go back above the header
// row; a header row of ours (for a table without one) goes.
void reshapeHeader(cmark_node* table, const TableShape& shape)
{
    cmark_node* header = table->first_child;
    if (!header) return;
    if (shape.headerless) {
        discardNode(header);
        return;
    }
    for (int i = 0; i < shape.headerRowsBelow && header->next; ++i) {
        cmark_node* row = header->next;
        cmark_node_unlink(row);
        cmark_node_insert_before(header, row);
        cmark_gfm_extensions_set_table_row_is_header(row, 1);
    }
}

} // namespace

TableStyler::TableStyler(ConversionState& state, Headings& headings) : state_(state), headings_(headings) {}

TableStyler::~TableStyler()
{
    // The table extension frees what it keeps in its own nodes: the nodes
    // we render are handed back to it before the tree goes.
    if (cmark_syntax_extension* tables = cmark_find_syntax_extension("table"))
        for (cmark_node* node : borrowed_) cmark_node_set_syntax_extension(node, tables);
}

void TableStyler::borrow(cmark_node* node, BlockStyle* style)
{
    state_.annotations.bind(node, style);
    borrowed_.push_back(node);
}

bool TableStyler::isTable(const cmark_node* node)
{
    static const cmark_syntax_extension* const tables = cmark_find_syntax_extension("table");
    return node->extension && node->extension == tables && isNamed(node, "table");
}

void TableStyler::styleTables(cmark_node* top)
{
    std::vector<cmark_node*> tables;
    cmark_node* node = top;
    while (node) {
        if (isTable(node)) tables.push_back(node);
        else if (holdsBlocks(node) && node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node != top && !node->next) node = node->parent;
        node = node == top ? nullptr : node->next;
    }
    styleTables(tables);
}

void TableStyler::styleTables(const std::vector<cmark_node*>& tables)
{
    for (cmark_node* table : tables) styleTable(table);
}

void TableStyler::styleTable(cmark_node* node)
{
    Table& table = tables_.emplace_back();
    table.node = node;
    table.style = &state_.annotations.newStyle(BlockStyle::Kind::table);
    // The notes' lines say nothing of their tables' shapes, and their
    // captions stay as cmark reads them: the pass reads a note's blocks
    // alone, not a caption's paragraph beside one.
    if (state_.part == DialectSource::Part::body) {
        table.shape = state_.source.tableShape(node->start_line);
        takeCaption(table);
    }
    // cmark checks what a table may hold with its own extension: the rows
    // move before the table is ours.
    if (table.shape) reshapeHeader(node, *table.shape);
    borrow(node, table.style);
}

// A caption on the line before the table stays the paragraph cmark made of
// it; one on the line after its last row, which cmark read as a row, moves
// into a paragraph after the table. Either is read by the pass, then
// written into the table.
void TableStyler::takeCaption(Table& table)
{
    std::string caption;
    std::string label;
    cmark_node* before = table.node->prev;
    cmark_node* last = table.node->last_child;
    // The line right over the table: cmark split it off the table's first
    // lines as a paragraph of its own (without a place in the text).
    const bool rightOver = before && (before->start_line == 0 || before->end_line + 1 >= table.node->start_line);
    if (rightOver && before->type == CMARK_NODE_PARAGRAPH && captionOf(before, caption, label)
        && removeCaptionBrackets(before, !label.empty())) {
        table.caption = before;
    } else if (last && last != table.node->first_child && captionRow(last, caption, label)
               && removeCaptionBrackets(last->first_child, !label.empty())) {
        cmark_node* paragraph = newNode(CMARK_NODE_PARAGRAPH);
        for (cmark_node* cell = last->first_child; cmark_node* child = cell->first_child;) {
            cmark_node_unlink(child);
            cmark_node_append_child(paragraph, child);
        }
        cmark_node_insert_after(table.node, paragraph);
        cmark_node_unlink(last);
        table.captionRow.reset(last);
        table.caption = paragraph;
        table.captionBelow = true;
    } else {
        return;
    }
    const std::string id = headingLabel(label.empty() ? caption : label);
    if (!id.empty() && state_.options.labels) {
        table.id = id;
        headings_.addTableTarget(id, caption, label);
    }
}

void TableStyler::finish(cmark_llist* extensions)
{
    for (Table& table : tables_) finishTable(table, extensions);
}

void TableStyler::finishTable(Table& table, cmark_llist* extensions)
{
    std::string& html = table.style->html;
    html = "<table";
    if (!table.id.empty()) {
        html += " id=\"";
        appendEscapedHtml(html, table.id);
        html += '"';
    }
    html += ">\n";
    if (table.caption) {
        html += table.captionBelow ? "<caption style=\"caption-side: bottom;\">" : "<caption>";
        for (cmark_node* part = table.caption->first_child; part; part = part->next)
            html += renderedHtml(part, cmarkOptions, extensions);
        html += "</caption>\n";
        discardNode(table.caption);
        table.caption = nullptr;
        table.captionRow.reset();
    }
    // The columns, with their alignments and whether their cells wrap.
    const uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(table.node);
    const int columns = cmark_gfm_extensions_get_table_columns(table.node);
    html += "<colgroup>\n";
    for (int column = 0; column < columns; ++column) {
        const std::string_view alignment = alignmentStyle(alignments ? char(alignments[column]) : '\0');
        const bool wrapped = table.shape && size_t(column) < table.shape->wrapped.size() && table.shape->wrapped[size_t(column)];
        html += "<col";
        html += alignment;
        if (wrapped) html += " class=\"extended\"";
        html += alignment.empty() && !wrapped ? " />\n" : "/>\n";
    }
    html += "</colgroup>\n";
    bindRows(table);
}

// The header rows go in one <thead>, the body rows in a <tbody> for each
// section; a cell followed by span markers spans their columns too.
void TableStyler::bindRows(const Table& table)
{
    const uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(table.node);
    const int columns = cmark_gfm_extensions_get_table_columns(table.node);
    auto beginsSection = [&](cmark_node* row) {
        return !isHeaderRow(row) && state_.source.beginsTableSection(row->start_line);
    };
    for (cmark_node* row = table.node->first_child; row; row = row->next) {
        const bool header = isHeaderRow(row);
        const bool opens = !row->prev || isHeaderRow(row->prev) != header || beginsSection(row);
        const bool closes = !row->next || isHeaderRow(row->next) != header || beginsSection(row->next);
        borrow(row, &rowStyle(header, opens, closes));
        int column = 0;
        for (cmark_node* cell = row->first_child; cell; cell = cell->next) {
            int span = 1;
            while (cell->next && isSpanMarker(cell->next)) {
                discardNode(cell->next);
                ++span;
            }
            const char alignment = alignments && column < columns ? char(alignments[column]) : '\0';
            borrow(cell, &cellStyle(header, alignment, span));
            column += span;
        }
    }
}

BlockStyle& TableStyler::rowStyle(bool header, bool opensSection, bool closesSection)
{
    BlockStyle*& style = rowStyles_[size_t(header) * 4 + size_t(opensSection) * 2 + size_t(closesSection)];
    if (!style) {
        style = &state_.annotations.newStyle(BlockStyle::Kind::row);
        style->header = header;
        style->opensSection = opensSection;
        style->closesSection = closesSection;
    }
    return *style;
}

BlockStyle& TableStyler::cellStyle(bool header, char alignment, int span)
{
    const size_t aligned = alignment == 'l' ? 1 : alignment == 'c' ? 2 : alignment == 'r' ? 3 : 0;
    BlockStyle** shared = span == 1 ? &cellStyles_[size_t(header) * 4 + aligned] : nullptr;
    if (shared && *shared) return **shared;
    BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::cell);
    style.header = header;
    style.alignment = alignment;
    style.span = span;
    if (shared) *shared = &style;
    return style;
}

} // namespace lumora::dialect
