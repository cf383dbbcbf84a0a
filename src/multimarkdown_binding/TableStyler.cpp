#include "multimarkdown_binding/TableStyler.h"

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <cmark-gfm-core-extensions.h>

#include <string_view>

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

// "[Caption]" or "[Caption][label]" as a paragraph's whole plain text.
bool captionOf(cmark_node* block, std::string& caption, std::string& label)
{
    std::string text;
    for (cmark_node* child = block->first_child; child; child = child->next)
        if (!appendPlainText(text, child)) return false;
    text = restoredText(std::string(trimmedSpaces(text)), true);
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
    const size_t close = text.find(']');
    if (close == 1 || text.find('[', 1) < close) return false;
    if (close + 1 < text.size()) {
        if (text[close + 1] != '[' || text.find('[', close + 2) != std::string::npos
            || text.find(']', close + 1) != text.size() - 1 || close + 3 >= text.size())
            return false;
        label = text.substr(close + 2, text.size() - close - 3);
    }
    caption = text.substr(1, close - 1);
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

void TableStyler::styleTables(cmark_node* root)
{
    std::vector<cmark_node*> tables;
    cmark_node* node = root->first_child;
    while (node) {
        if (isNamed(node, "table")) tables.push_back(node);
        else if (holdsBlocks(node) && node->first_child) {
            node = node->first_child;
            continue;
        }
        while (node != root && !node->next) node = node->parent;
        node = node == root ? nullptr : node->next;
    }
    for (cmark_node* table : tables) styleTable(table);
}

void TableStyler::styleTable(cmark_node* table)
{
    BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::table);
    std::string caption;
    std::string label;
    cmark_node* before = table->prev;
    if (before && before->type == CMARK_NODE_PARAGRAPH && captionOf(before, caption, label)) {
        discardNode(before);
    } else if (cmark_node* last = table->last_child; last && last != table->first_child && captionRow(last, caption, label)) {
        discardNode(last);
    }
    if (!caption.empty()) {
        const std::string id = headingLabel(label.empty() ? caption : label);
        style.html = "<caption";
        if (!id.empty() && state_.options.labels) {
            style.html += " id=\"";
            appendEscapedHtml(style.html, id);
            style.html += '"';
            headings_.addTableTarget(id, caption, label);
        }
        style.html += '>';
        appendEscapedHtml(style.html, caption);
        style.html += "</caption>\n";
    }
    borrow(table, &style);
    tables_.push_back(table);
}

void TableStyler::spanColumns()
{
    for (cmark_node* table : tables_) spanColumns(table);
}

void TableStyler::spanColumns(cmark_node* table)
{
    const uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(table);
    const int columns = cmark_gfm_extensions_get_table_columns(table);
    for (cmark_node* row = table->first_child; row; row = row->next) {
        bool spans = false;
        for (cmark_node* cell = row->first_child; cell && !spans; cell = cell->next)
            spans = isSpanMarker(cell);
        if (!spans) continue;
        const bool header = cmark_gfm_extensions_get_table_row_is_header(row);
        int column = 0;
        BlockStyle* previous = nullptr;
        for (cmark_node* cell = row->first_child; cell;) {
            cmark_node* next = cell->next;
            if (previous && isSpanMarker(cell)) {
                ++previous->span;
                discardNode(cell);
            } else {
                BlockStyle& cellStyle = state_.annotations.newStyle(BlockStyle::Kind::cell);
                cellStyle.header = header;
                cellStyle.alignment = alignments && column < columns ? char(alignments[column]) : '\0';
                borrow(cell, &cellStyle);
                previous = &cellStyle;
            }
            ++column;
            cell = next;
        }
    }
}

} // namespace lumora::dialect
