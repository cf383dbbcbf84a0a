#pragma once

#include "multimarkdown_binding/BlockTracker.h"
#include "multimarkdown_binding/SourceLines.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// Where MultiMarkdown's block rules differ from cmark's in ways a line can
// be rewritten for: an ordered list starting at any number may interrupt a
// paragraph (cmark lets only 1 do so), at the top level and in a list item
// (a sub-list), and a list marker may be followed by any white space (cmark
// reads five columns or more, two tabs say, as code in the item). A fence
// indented by a tab in an item is written with spaces: cmark counts the
// fence's indent in bytes there and leaves a space of the tab on its code.
class ListRules {
public:
    // The line as cmark should read it (in storage when rewritten);
    // blankBefore when a blank line must go before it.
    std::string_view adjust(std::string_view line, std::string& storage, bool& blankBefore)
    {
        return inItems(topLevel(line, storage, blankBefore), storage);
    }

    // The same for a note's text, in its list items only (the note's own
    // paragraphs are read as cmark reads them).
    std::string_view adjustInItems(std::string_view line, std::string& storage) { return inItems(line, storage); }

    // A line cmark reads as code or raw HTML.
    void skip()
    {
        previousBlank_ = false;
        previousParagraph_ = false;
        itemBlocks_ = BlockTracker();
        textOpen_ = false;
        blankBefore_ = false;
    }

private:
    struct Marker {
        size_t length = 0; // indentation and marker
        bool ordered = false;
        unsigned long number = 0;
    };

    std::string_view topLevel(std::string_view line, std::string& storage, bool& blankBefore)
    {
        blankBefore = false;
        if (isBlankLine(line)) {
            previousBlank_ = true;
            previousParagraph_ = false;
            return line;
        }
        const bool wasInList = inList_;
        const bool paragraphBefore = previousParagraph_;
        const bool blankBeforeLine = previousBlank_;
        previousBlank_ = false;
        const Marker marker = markerOf(line);
        if (marker.length == 0) {
            // After a blank line, text that is not indented ends a list.
            if (blankBeforeLine && !isIndentedLine(line)) inList_ = false;
            previousParagraph_ = !startsBlock(line) && !isIndentedLine(line);
            return line;
        }
        inList_ = true;
        previousParagraph_ = true;
        if (marker.ordered && marker.number != 1 && paragraphBefore && !wasInList) blankBefore = true;
        // The columns of white space after the marker, tabs to their stops.
        size_t column = marker.length;
        size_t end = marker.length;
        for (; end < line.size() && (line[end] == ' ' || line[end] == '\t'); ++end)
            column = line[end] == '\t' ? (column / 4 + 1) * 4 : column + 1;
        if (column - marker.length >= 5 && end < line.size()) {
            storage.assign(line.substr(0, marker.length));
            storage += ' ';
            storage.append(line.substr(end));
            return storage;
        }
        return line;
    }

    static Marker markerOf(std::string_view line)
    {
        Marker marker;
        const size_t indent = leadingSpaces(line);
        if (indent > 3 || indent >= line.size()) return marker;
        size_t i = indent;
        if (line[i] == '-' || line[i] == '+' || line[i] == '*') {
            ++i;
        } else {
            while (i < line.size() && i - indent < 9 && line[i] >= '0' && line[i] <= '9') {
                marker.number = marker.number * 10 + unsigned(line[i] - '0');
                ++i;
            }
            if (i == indent || i >= line.size() || (line[i] != '.' && line[i] != ')')) return marker;
            marker.ordered = true;
            ++i;
        }
        if (i >= line.size() || (line[i] != ' ' && line[i] != '\t')) return Marker{};
        marker.length = i;
        return marker;
    }

    // Where a line's text begins, from a byte and its column on: its
    // column (tabs to their stops) and byte.
    struct Indent {
        size_t columns = 0;
        size_t bytes = 0;
    };

    static size_t nextColumn(char c, size_t column) { return c == '\t' ? (column / 4 + 1) * 4 : column + 1; }

    static Indent indentOf(std::string_view line, Indent start)
    {
        Indent indent = start;
        for (; indent.bytes < line.size() && (line[indent.bytes] == ' ' || line[indent.bytes] == '\t'); ++indent.bytes)
            indent.columns = nextColumn(line[indent.bytes], indent.columns);
        return indent;
    }

    // The quotes a line begins with: how many, where the text in them
    // begins (a tab after a quote marker gives it its first column, as a
    // space would), and the column that text counts its indentation from.
    struct Quotes {
        size_t depth = 0;
        Indent text;
        size_t origin = 0;
    };

    static Quotes quotesOf(std::string_view line)
    {
        Quotes quotes;
        for (;;) {
            const Indent indent = indentOf(line, quotes.text);
            if (indent.columns - quotes.origin > 3 || indent.bytes >= line.size() || line[indent.bytes] != '>') break;
            ++quotes.depth;
            quotes.text = Indent{indent.columns + 1, indent.bytes + 1};
            const char after = quotes.text.bytes < line.size() ? line[quotes.text.bytes] : '\n';
            if (after == ' ') quotes.text = Indent{quotes.text.columns + 1, quotes.text.bytes + 1};
            quotes.origin = after == '\t' ? quotes.text.columns + 1 : quotes.text.columns;
        }
        return quotes;
    }

    // A list item's marker where the line's text begins.
    struct ItemStart {
        bool found = false;
        bool ordered = false;
        size_t digits = 0;     // of an ordered marker's number
        bool one = false;      // the number is 1
        size_t textColumn = 0; // where the item's text begins, as cmark counts it
        size_t textByte = 0;   // and the byte it begins at, when it begins there
        bool hasText = false;
    };

    static ItemStart itemStartOf(std::string_view line, Indent indent)
    {
        ItemStart item;
        const std::string_view rest = line.substr(indent.bytes);
        if (rest.empty() || isThematicBreak(rest)) return item;
        size_t i = 0;
        if (rest[0] == '-' || rest[0] == '+' || rest[0] == '*') {
            i = 1;
        } else {
            unsigned long number = 0;
            for (; i < rest.size() && i < 9 && rest[i] >= '0' && rest[i] <= '9'; ++i)
                number = number * 10 + unsigned(rest[i] - '0');
            if (i == 0 || i >= rest.size() || (rest[i] != '.' && rest[i] != ')')) return item;
            item.ordered = true;
            item.digits = i;
            item.one = number == 1;
            ++i;
        }
        if (i < rest.size() && rest[i] != ' ' && rest[i] != '\t') return item;
        item.found = true;
        const size_t markerEnd = indent.columns + i;
        const Indent text = indentOf(line, Indent{markerEnd, indent.bytes + i});
        item.hasText = text.bytes < line.size();
        item.textColumn = !item.hasText || text.columns - markerEnd >= 5 ? markerEnd + 1 : text.columns;
        item.textByte = item.textColumn == text.columns ? text.bytes : 0;
        return item;
    }

    // The line from a column on, reading from start (a tab across the
    // column leaves its columns beyond as spaces).
    std::string_view from(std::string_view line, Indent start, size_t column)
    {
        Indent at = start;
        while (at.bytes < line.size() && at.columns < column && (line[at.bytes] == ' ' || line[at.bytes] == '\t'))
            at = Indent{nextColumn(line[at.bytes], at.columns), at.bytes + 1};
        if (at.columns <= column) return line.substr(at.bytes);
        content_.assign(at.columns - column, ' ');
        content_.append(line.substr(at.bytes));
        return content_;
    }

    // Whether cmark may go on with a paragraph on the next line, after a
    // line of an item whose text (from the item's column) is content.
    static bool opensText(std::string_view content)
    {
        const std::string_view rest = trimmedSpaces(content);
        return !rest.empty() && !isAtxHeading(rest) && !isThematicBreak(rest);
    }

    void closeItemsRightOf(size_t column)
    {
        bool closed = false;
        while (!itemColumns_.empty() && itemColumns_.back() > column) {
            itemColumns_.pop_back();
            closed = true;
        }
        if (closed) itemBlocks_ = BlockTracker();
    }

    void closeAllItems()
    {
        itemColumns_.clear();
        itemBlocks_ = BlockTracker();
        textOpen_ = false;
    }

    // The open list items, followed line by line, in the quotes the line
    // is in: a numbered line right under an item's paragraph, indented to
    // the item's text, starts a list in the item whatever its number
    // (written as 1, which cmark lets interrupt the paragraph; the list is
    // numbered from 1 in any case). Columns of items count from where the
    // text of their quotes begins.
    std::string_view inItems(std::string_view line, std::string& storage)
    {
        const Quotes quotes = quotesOf(line);
        const Indent indent = indentOf(line, quotes.text);
        const std::string_view rest = line.substr(indent.bytes);
        const size_t column = indent.columns - quotes.origin;
        const bool blankBefore = blankBefore_;
        blankBefore_ = rest.empty();
        if (quotes.depth != depth_) {
            // A line left out of the quotes may go on with their paragraph.
            const bool lazy = quotes.depth < depth_ && textOpen_ && !blankBefore && !rest.empty()
                && !startsBlock(rest) && !itemStartOf(line, indent).found;
            if (lazy) return line;
            closeAllItems();
            depth_ = quotes.depth;
        }
        if (rest.empty()) {
            itemBlocks_.feed({});
            textOpen_ = false;
            return line;
        }
        // Code or raw HTML of the innermost item goes on while indented
        // under the item's text; a line further left closes the item.
        if (!itemColumns_.empty() && itemBlocks_.isInsideBlock()) {
            if (column >= itemColumns_.back()) {
                itemBlocks_.feed(from(line, quotes.text, quotes.origin + itemColumns_.back()));
                textOpen_ = false;
                return line;
            }
            closeItemsRightOf(column);
            textOpen_ = false;
        }
        ItemStart item = itemStartOf(line, indent);
        // A lazy line goes on with the paragraph of the innermost item;
        // anything else left of an item's text closes it.
        if (item.found || blankBefore || !textOpen_ || startsBlock(rest)) closeItemsRightOf(column);
        const size_t limit = itemColumns_.empty() ? 0 : itemColumns_.back();
        // Four columns past the text of the item (or of the quote): code,
        // or a paragraph going on.
        if (column >= limit + 4) item.found = false;
        if (!item.found) {
            // Outside lists, and a lazy line: nothing to follow, or a
            // paragraph that goes on.
            if (itemColumns_.empty()) textOpen_ = false;
            if (itemColumns_.empty() || column < limit) return line;
            if (column >= limit + 4) {
                textOpen_ = textOpen_ && !blankBefore;
                return line;
            }
            itemBlocks_.feed(from(line, quotes.text, quotes.origin + limit));
            textOpen_ = !itemBlocks_.isInsideBlock() && opensText(rest);
            // (In a quote, the rules for quotes write a tab after the
            // marker as spaces.)
            const bool tabbed = line.substr(0, indent.bytes).find('\t') != std::string_view::npos;
            if (itemBlocks_.isInsideFence() && tabbed && quotes.depth == 0) {
                std::string spaced(indent.columns, ' ');
                spaced.append(rest);
                storage = std::move(spaced);
                return storage;
            }
            return line;
        }
        std::string_view written = line;
        if (item.ordered && !item.one && item.hasText && textOpen_ && !itemColumns_.empty()) {
            // "12." becomes "01.": the item's text stays in its columns.
            if (line.data() != storage.data()) storage.assign(line);
            for (size_t k = 0; k < item.digits; ++k) storage[indent.bytes + k] = k + 1 == item.digits ? '1' : '0';
            written = storage;
        }
        itemColumns_.push_back(item.textColumn - quotes.origin);
        // An item whose text begins with a marker holds a list of its own
        // ("- - a", a definition's "+   - a").
        for (ItemStart inner = item; inner.hasText && inner.textByte > 0;) {
            inner = itemStartOf(written, Indent{inner.textColumn, inner.textByte});
            if (!inner.found) break;
            itemColumns_.push_back(inner.textColumn - quotes.origin);
            item = inner;
        }
        itemBlocks_ = BlockTracker();
        // (Text five columns or more after its marker is code in the item.)
        const std::string_view text = item.textByte > 0 ? written.substr(item.textByte) : std::string_view();
        itemBlocks_.feed(text);
        textOpen_ = !itemBlocks_.isInsideBlock() && opensText(text);
        return written;
    }

    bool inList_ = false;
    bool previousBlank_ = true;
    bool previousParagraph_ = false;

    size_t depth_ = 0;                // the quotes the items are in
    std::vector<size_t> itemColumns_; // where the text of each open item begins, the innermost last
    BlockTracker itemBlocks_;         // code and raw HTML in the innermost item, from its text's column
    bool textOpen_ = false;           // the line before was text cmark may go on with
    bool blankBefore_ = false;
    std::string content_;
};


} // namespace lumora::dialect
