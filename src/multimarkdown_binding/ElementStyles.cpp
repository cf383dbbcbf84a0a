#include "multimarkdown_binding/ElementStyles.h"

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

namespace {

// Whether a raw source format ("html", "*", "latex", ...) is HTML's;
// nothing for what names no format.
std::optional<bool> rawFormatIsHtml(std::string_view format)
{
    if (format == "*" || format == "html") return true;
    if (format.empty()) return std::nullopt;
    for (char c : format)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return std::nullopt;
    return false;
}

} // namespace

ElementStyles::ElementStyles(ConversionState& state) : state_(state) {}

void ElementStyles::buildDefinitionLists(cmark_node* root)
{
    // Terms and definitions stand at the top level only.
    if (!state_.source.hasDefinitionLists()) return;
    for (cmark_node* node = root->first_child; node; node = node->next) {
        if (!isTerm(node, root) && !isDefinitions(node, root)) continue;
        cmark_node* list = newNode(CMARK_NODE_CUSTOM_BLOCK);
        cmark_node_set_on_enter(list, "<dl>");
        cmark_node_set_on_exit(list, "</dl>");
        cmark_node_insert_before(node, list);
        while (node && (isTerm(node, root) || isDefinitions(node, root))) {
            cmark_node* next = node->next;
            BlockStyle* style;
            if (isTerm(node, root)) {
                style = &state_.annotations.newStyle(BlockStyle::Kind::term);
            } else {
                style = &state_.annotations.newStyle(BlockStyle::Kind::definitions);
                if (state_.source.beginsLooseDefinitions(node->start_line)) cmark_node_set_list_tight(node, 0);
                for (cmark_node* item = node->first_child; item; item = item->next)
                    state_.annotations.bind(item, &definitionStyle_);
            }
            state_.annotations.bind(node, style);
            cmark_node_unlink(node);
            cmark_node_append_child(list, node);
            node = next;
        }
        node = list;
    }
}

bool ElementStyles::isTerm(const cmark_node* node, const cmark_node* root) const
{
    return node->type == CMARK_NODE_PARAGRAPH && node->parent == root && state_.source.isTermLine(node->start_line);
}

bool ElementStyles::isDefinitions(const cmark_node* node, const cmark_node* root) const
{
    return node->type == CMARK_NODE_LIST && node->parent == root && state_.source.beginsDefinitions(node->start_line);
}

namespace {

// Whether item's text begins with a number that cmark read as a list of
// its own ("* 14. Dezember").
bool beginsWithNumberList(const cmark_node* item)
{
    const cmark_node* inner = item->first_child;
    return inner && inner->type == CMARK_NODE_LIST && inner->as.list.list_type == CMARK_ORDERED_LIST
        && inner->start_line == item->start_line && inner->first_child;
}

} // namespace

// "* 14. Dezember" is an item whose text begins with a number: cmark reads
// a list inside the item, MultiMarkdown the number as the item's text. The
// inner list's first item gives its blocks to the outer item, its paragraph
// headed by the number as written (and any further items stay a list after
// them). "1. 2. 3. x" is a chain of such lists, one item each: every number
// heads the innermost paragraph, whose blocks move out at once.
//
// A chain whose innermost item holds no paragraph first ("1. 1. ~~~", a
// fence), or a number that cannot be read back from its line, stays as cmark
// read it. Every item further down the same chain then stays too (below it
// is the same innermost item, and the same unreadable number), and the pass
// enters those items next: the chain is kept, so that they are passed by
// without being read again (reading it again at each of thousands of items
// costs the square of its depth).
void ElementStyles::keepNumberAsText(cmark_node* item)
{
    if (keptUntil_ > 0 && item->parent == keptChain_[keptNext_]) {
        if (++keptNext_ == keptUntil_) keptUntil_ = 0;
        return;
    }
    keptUntil_ = 0;
    if (!beginsWithNumberList(item)) return;
    cmark_node* outer = item->first_child;
    std::vector<const cmark_node*>& lists = keptChain_;
    lists.assign(1, outer);
    cmark_node* innermost = outer->first_child;
    while (beginsWithNumberList(innermost) && innermost->first_child == innermost->last_child
           && innermost->parent->first_child == innermost->parent->last_child) {
        lists.push_back(innermost->first_child);
        innermost = innermost->first_child->first_child;
    }
    // Each list of the chain but the last holds one item, which holds the
    // next list: item i+1 of the chain is the first item of lists[i].
    const auto keep = [this](size_t itemsBelow) {
        keptNext_ = 0;
        keptUntil_ = itemsBelow;
    };
    cmark_node* paragraph = innermost->first_child;
    if (paragraph && paragraph->type != CMARK_NODE_PARAGRAPH) return keep(lists.size() - 1);
    std::string numbers;
    // An item below stays when its part of the chain holds a number that
    // cannot be read: the items above the last such list.
    size_t unreadable = 0;
    for (size_t i = 0; i < lists.size(); ++i) {
        const cmark_node* first = lists[i]->first_child;
        const std::string_view line = sourceLine(first->start_line);
        const size_t markerStart = size_t(std::max(first->start_column, 1) - 1);
        size_t markerEnd = markerStart;
        while (markerEnd < line.size() && line[markerEnd] >= '0' && line[markerEnd] <= '9') ++markerEnd;
        if (markerEnd == markerStart || markerEnd >= line.size()) {
            unreadable = i + 1;
            continue;
        }
        if (unreadable > 0) continue;
        if (!numbers.empty()) numbers += ' ';
        numbers.append(line.substr(markerStart, markerEnd - markerStart + 1));
    }
    if (unreadable > 0) return keep(unreadable - 1);

    // The blocks move once, to the outer item, never down the chain: cmark
    // checks each move against every ancestor of the new place.
    while (cmark_node* child = innermost->first_child) cmark_node_insert_before(outer, child);
    if (!paragraph) {
        paragraph = newNode(CMARK_NODE_PARAGRAPH);
        cmark_node_append_child(paragraph, newText(numbers));
        cmark_node_insert_before(outer, paragraph);
    } else if (paragraph->first_child && paragraph->first_child->type == CMARK_NODE_TEXT) {
        cmark_node* text = paragraph->first_child;
        numbers += ' ';
        numbers.append(literalOf(text));
        cmark_node_set_literal(text, numbers.c_str());
    } else {
        numbers += ' ';
        cmark_node_prepend_child(paragraph, newText(numbers));
    }
    cmark_node* innermostList = innermost->parent;
    discardNode(innermost);
    if (innermostList == outer) {
        if (!outer->first_child) discardNode(outer);
        return;
    }
    if (innermostList->first_child) cmark_node_insert_before(outer, innermostList);
    discardNode(outer);
}

// MultiMarkdown indents an item's blocks by four columns, whatever its
// marker, and its code by four more: "1. Request:" over "        curl x"
// is code of "curl x", where cmark counts from the item's text (three
// columns in) and keeps a space. The columns an item's text stands short
// of four, over every item the code lies in, come off each line of the
// code.
void ElementStyles::alignListCode(cmark_node* code)
{
    if (code->as.code.fenced) return;
    int extra = 0;
    const cmark_node* at = code->parent;
    for (; at && (at->type == CMARK_NODE_ITEM || at->type == CMARK_NODE_LIST); at = at->parent)
        if (at->type == CMARK_NODE_ITEM) extra += 4 - (at->as.list.marker_offset + at->as.list.padding);
    if (extra <= 0) return;
    const std::string_view literal = viewOf(code->as.code.literal);
    std::string aligned;
    aligned.reserve(literal.size());
    size_t start = 0;
    while (start < literal.size()) {
        size_t end = literal.find('\n', start);
        end = end == std::string_view::npos ? literal.size() : end + 1;
        size_t skip = 0;
        while (skip < size_t(extra) && start + skip < end && literal[start + skip] == ' ') ++skip;
        aligned.append(literal.substr(start + skip, end - start - skip));
        start = end;
    }
    if (aligned.size() != literal.size()) cmark_node_set_literal(code, aligned.c_str());
}

std::string_view ElementStyles::sourceLine(int line)
{
    const std::string& document =
        state_.part == DialectSource::Part::body ? state_.source.document() : state_.source.notesDocument();
    if (lineStarts_.empty() || linesOf_ != state_.part) {
        lineStarts_.assign(1, 0);
        for (size_t at = document.find('\n'); at != std::string::npos; at = document.find('\n', at + 1))
            lineStarts_.push_back(at + 1);
        linesOf_ = state_.part;
    }
    if (line < 1 || size_t(line) > lineStarts_.size()) return {};
    const size_t start = lineStarts_[size_t(line) - 1];
    const size_t end = size_t(line) < lineStarts_.size() ? lineStarts_[size_t(line)] - 1 : document.size();
    return std::string_view(document).substr(start, end - start);
}

// "`source`{=html}" (or "{=*}") passes its source through; raw source
// for other formats is left out.
void ElementStyles::convertRawSpans(cmark_node* container)
{
    for (cmark_node* child = container->first_child; child;) {
        cmark_node* next = child->next;
        if (child->type == CMARK_NODE_CODE && next && next->type == CMARK_NODE_TEXT) {
            const std::string_view after = literalOf(next);
            const size_t close = after.substr(0, 32).find('}');
            const std::optional<bool> html = after.substr(0, 2) == "{=" && close != std::string_view::npos
                ? rawFormatIsHtml(after.substr(2, close - 2))
                : std::nullopt;
            if (html) {
                if (*html) {
                    cmark_node* raw = newNode(CMARK_NODE_HTML_INLINE);
                    const std::string source = restoredText(literalOf(child), false);
                    cmark_node_set_literal(raw, source.c_str());
                    cmark_node_insert_before(child, raw);
                }
                discardNode(child);
                const std::string rest(after.substr(close + 1));
                if (rest.empty()) {
                    cmark_node* emptied = next;
                    next = next->next;
                    discardNode(emptied);
                } else {
                    cmark_node_set_literal(next, rest.c_str());
                }
            }
        }
        child = next;
    }
}

// Fenced code gets its language as its class, as "<code class="perl">";
// fenced raw source ("```{=html}") passes through or is left out.
void ElementStyles::styleCodeBlock(cmark_node* node)
{
    const std::string_view info = trimmedSpaces(viewOf(node->as.code.info));
    if (info.empty()) return;
    const std::string_view word = info.substr(0, info.find_first_of(" \t"));
    const std::optional<bool> html = word.size() > 3 && word.substr(0, 2) == "{=" && word.back() == '}'
        ? rawFormatIsHtml(word.substr(2, word.size() - 3))
        : std::nullopt;
    BlockStyle* style;
    if (html) {
        style = &state_.annotations.newStyle(*html ? BlockStyle::Kind::rawCode : BlockStyle::Kind::hiddenCode);
    } else {
        style = &state_.annotations.newStyle(BlockStyle::Kind::code);
        style->html = std::string(word);
    }
    state_.annotations.bind(node, style);
}

// A link or image whose definition had attributes: its destination ends
// in attributesMark and their number.
void ElementStyles::takeLinkAttributes(cmark_node* node)
{
    const std::string_view url = viewOf(node->as.link.url);
    const size_t mark = url.find(char(attributesMark));
    if (mark == std::string_view::npos) return;
    size_t number = 0;
    size_t i = mark + 1;
    for (; i < url.size() && url[i] >= '0' && url[i] <= '9' && number < (size_t(1) << 40); ++i)
        number = number * 10 + size_t(url[i] - '0');
    std::string plain(url.substr(0, mark));
    plain.append(url.substr(i));
    cmark_node_set_url(node, plain.c_str());
    if (number >= state_.source.linkAttributes().size()) return;
    BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::linkAttributes);
    style.attributes = &state_.source.linkAttributes()[number];
    state_.annotations.bind(node, &style);
}

// A paragraph of one image is a figure, captioned with the image's
// description (or else its title). (A paragraph of "{{TOC}}" alone
// becomes a table of contents once every heading is known: see Headings.)
void ElementStyles::styleParagraph(cmark_node* paragraph, cmark_llist* extensions)
{
    cmark_node* child = paragraph->first_child;
    if (!child || child != paragraph->last_child) return;
    if (child->type != CMARK_NODE_IMAGE) return;
    BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::figure);
    for (cmark_node* part = child->first_child; part; part = part->next)
        style.html += renderedHtml(part, cmarkOptions, extensions);
    if (trimmedSpaces(style.html).empty()) {
        style.html.clear();
        appendEscapedHtml(style.html, viewOf(child->as.link.title));
    }
    state_.annotations.bind(paragraph, &style);
}

} // namespace lumora::dialect

