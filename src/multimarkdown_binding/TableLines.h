#pragma once

#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/SourceLines.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// The cells of a table row as cmark-gfm counts them: pipes not escaped by a
// backslash separate cells, and one at either end only closes the cell
// beside it. A lone pipe is no row (0).
inline size_t rowCells(std::string_view line)
{
    const std::string_view row = trimmedSpaces(line);
    if (row == "|") return 0;
    size_t pipes = 0;
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] == '\\') ++i;
        else if (row[i] == '|') ++pipes;
    }
    size_t count = pipes + 1;
    if (!row.empty() && row.front() == '|') --count;
    if (row.size() > 1 && row.back() == '|' && row[row.size() - 2] != '\\') --count;
    return std::max<size_t>(count, 1);
}

inline bool hasUnescapedPipe(std::string_view line)
{
    // Most lines hold no pipe at all.
    const size_t first = line.find('|');
    if (first == std::string_view::npos) return false;
    if (first == 0 || line[first - 1] != '\\') return true;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\') ++i;
        else if (line[i] == '|') return true;
    }
    return false;
}

// A separator row as MultiMarkdown reads one (at least one pipe; cells of
// "-", "=" and "." with a colon at either end for the alignment, and "+"
// in a column whose long cells wrap), in the form cmark-gfm reads ("=" and
// "." as "-", no "+").
struct SeparatorRow {
    std::string text;
    std::vector<bool> wrapped;
};

inline std::optional<SeparatorRow> separatorRow(std::string_view line)
{
    if (leadingSpaces(line) > 3) return std::nullopt;
    const std::string_view row = trimmedSpaces(line);
    if (row.find('|') == std::string_view::npos) return std::nullopt;
    SeparatorRow separator;
    separator.text = "|";
    size_t start = 0;
    while (true) {
        const size_t pipe = row.find('|', start);
        const size_t end = pipe == std::string_view::npos ? row.size() : pipe;
        const std::string_view cell = trimmedSpaces(row.substr(start, end - start));
        if (cell.empty()) {
            // Only the ends of the row may lack a cell.
            if (start != 0 && end != row.size()) return std::nullopt;
        } else {
            bool wrapped = false;
            bool dash = false;
            const size_t before = separator.text.size();
            for (size_t i = 0; i < cell.size(); ++i) {
                const char c = cell[i];
                if (c == '+') {
                    wrapped = true;
                } else if (c == '-' || c == '=' || c == '.') {
                    dash = dash || c != '.';
                    separator.text += '-';
                } else if (c == ':') {
                    separator.text += ':';
                } else {
                    return std::nullopt;
                }
            }
            // A colon only at either end.
            const std::string_view written = std::string_view(separator.text).substr(before);
            const size_t first = written.front() == ':' ? 1 : 0;
            const size_t last = written.size() - (written.size() > first && written.back() == ':' ? 1 : 0);
            if (!dash || last <= first || written.substr(first, last - first).find(':') != std::string_view::npos)
                return std::nullopt;
            separator.text += '|';
            separator.wrapped.push_back(wrapped);
        }
        if (pipe == std::string_view::npos) break;
        start = pipe + 1;
    }
    if (separator.wrapped.empty()) return std::nullopt;
    return separator;
}

// A line that may be a row of a table MultiMarkdown reads: not blank, not
// indented, no other block or definition, a pipe, and no more cells than a
// row may have.
inline bool mayBeTableRow(std::string_view line)
{
    if (!hasUnescapedPipe(line) || isBlankLine(line) || isIndentedLine(line) || startsBlock(line)
        || isLinkDefinition(line) || isDefinitionLine(line) || definitionStart(line))
        return false;
    if (line[leadingSpaces(line)] == '<') return false; // raw HTML
    const size_t cells = rowCells(line);
    return cells > 0 && cells <= DialectSource::maxTableColumns;
}

// "[Caption]" or "[Caption][label]" alone on a line (read again in the tree).
inline bool mayBeTableCaption(std::string_view line)
{
    const std::string_view text = trimmedSpaces(line);
    return !isIndentedLine(line) && text.size() > 2 && text.front() == '[' && text.back() == ']'
        && !hasUnescapedPipe(text) && !isLinkDefinition(line) && !definitionStart(line);
}

// MultiMarkdown's tables beyond cmark-gfm's, for the line-by-line pass at
// the top level: header rows above the one cmark reads (written under the
// separator, to go back up in the tree), a header row with fewer cells than
// the separator (given empty ones), a table without a header (given one of
// empty cells), separators of "=", "." and "+", rows after a blank line
// inside a table (the blank line left out, the row after it noted as
// beginning a section), and the end of a table at a line without a pipe
// (the scanner puts a blank line before it). Such a table begins after a
// blank line or another block, or under a caption line that does; what
// cmark-gfm reads anywhere else stays as it reads it. Each line is looked at
// ahead once or twice at most.
class TableLines {
public:
    // Where the shapes of tables and their section rows are noted.
    TableLines(std::vector<TableShape>& shapes, std::vector<int>& sectionLines)
        : shapes_(shapes), sectionLines_(sectionLines)
    {
    }

    // A table's header and separator rows, as they are to be written.
    struct Header {
        std::vector<std::string> lines; // in the order written
        size_t end = 0;                 // where the line after the separator starts
    };

    // At a line of text at the top level starting at from: the lines of the
    // header of the table that begins there (or under the caption above it),
    // if MultiMarkdown reads one; its shape is noted with firstLine, the
    // line of the document the header would start at.
    std::optional<Header> headerAhead(std::string_view text, size_t from, bool blockStart, int firstLine)
    {
        if (inTable_ || from < quietUntil_ || !(blockStart || captionLine_ > 0)) return std::nullopt;
        std::vector<std::string_view> rows;
        size_t at = from;
        while (at < text.size()) {
            const std::string_view line = lineAt(text, at);
            const size_t next = std::min(text.size(), at + line.size() + 1);
            if (!mayBeTableRow(line)) break;
            if (std::optional<SeparatorRow> separator = separatorRow(line)) {
                // A table without a header needs a row under its separator.
                if (rows.empty() && (next >= text.size() || !mayBeTableRow(lineAt(text, next))
                                     || separatorRow(lineAt(text, next))))
                    break;
                // The separator has a cell for each column.
                if (!rows.empty() && rowCells(rows.back()) > separator->wrapped.size()) break;
                return headerOf(rows, std::move(*separator), next, blockStart ? firstLine : captionLine_);
            }
            rows.push_back(line);
            at = next;
        }
        quietUntil_ = std::max(quietUntil_, at + 1);
        return std::nullopt;
    }

    // At a blank line from which the next line starts: whether the rows
    // after it go on with the open table as a section of their own (rows up
    // to the next blank line, with neither a separator among them nor a
    // definition list's definition after them).
    bool sectionAhead(std::string_view text, size_t from)
    {
        if (!inTable_ || from >= text.size() || !mayBeTableRow(lineAt(text, from))) return false;
        size_t at = from;
        while (at < text.size()) {
            const std::string_view line = lineAt(text, at);
            at = std::min(text.size(), at + line.size() + 1);
            if (isBlankLine(line)) return at >= text.size() || !isDefinitionLine(lineAt(text, at));
            if (startsBlock(line) || isIndentedLine(line)) return true;
            if (isDefinitionLine(line) || separatorRow(line)) return false;
        }
        return true;
    }

    // A blank line was left out at line: the row written there begins a
    // section.
    void beginSection(int line) { sectionLine_ = line; }

    // Every line written to the document, in order, as written: number is
    // its line; code and raw HTML are insideBlock; blockStart when a block
    // may begin at it.
    void written(std::string_view line, int number, bool insideBlock, bool blockStart)
    {
        if (inTable_) {
            const bool row = !insideBlock && !isBlankLine(line) && !isIndentedLine(line) && !startsBlock(line)
                && line[leadingSpaces(line)] != '<';
            if (!row) inTable_ = false;
        }
        if (sectionLine_ == number && inTable_) sectionLines_.push_back(number);
        sectionLine_ = 0;
        captionLine_ = !insideBlock && blockStart && mayBeTableCaption(line) ? number : 0;
    }

    // After the header rows and separator of a table were written.
    void enterTable() { inTable_ = true; }

    bool isInTable() const { return inTable_; }

private:
    Header headerOf(const std::vector<std::string_view>& rows, SeparatorRow separator, size_t end, int firstLine)
    {
        TableShape shape;
        shape.firstLine = firstLine;
        shape.headerless = rows.empty();
        shape.headerRowsBelow = rows.empty() ? 0 : int(rows.size()) - 1;
        Header header;
        header.end = end;
        // cmark reads the row right over the separator as the header: the
        // last header row goes there, the ones above it under the separator.
        if (rows.empty()) {
            header.lines.emplace_back("|");
            for (size_t i = 0; i < separator.wrapped.size(); ++i) header.lines.back() += " |";
        } else {
            // As many cells as the separator, for cmark to see a table.
            std::string& row = header.lines.emplace_back(rows.back());
            size_t missing = separator.wrapped.size() - rowCells(row);
            if (missing > 0) {
                const std::string_view trimmed = trimmedSpaces(row);
                if (trimmed.back() != '|' || (trimmed.size() > 1 && trimmed[trimmed.size() - 2] == '\\')) row += " |";
                for (; missing > 0; --missing) row += " |";
            }
        }
        header.lines.push_back(std::move(separator.text));
        for (size_t i = 0; i + 1 < rows.size(); ++i) header.lines.emplace_back(rows[i]);
        const bool wraps = std::find(separator.wrapped.begin(), separator.wrapped.end(), true) != separator.wrapped.end();
        if (wraps) shape.wrapped = std::move(separator.wrapped);
        if (wraps || shape.headerless || shape.headerRowsBelow > 0) shapes_.push_back(std::move(shape));
        return header;
    }

    std::vector<TableShape>& shapes_;
    std::vector<int>& sectionLines_;
    bool inTable_ = false;    // a table read here is open, its last line a row
    size_t quietUntil_ = 0;   // lines before this were looked at ahead and make no table
    int captionLine_ = 0;     // the line written last was a caption line beginning a block
    int sectionLine_ = 0;     // the line whose row begins a section
};

} // namespace lumora::dialect
