#pragma once

#include "multimarkdown_binding/TableLines.h"

#include <algorithm>
#include <string_view>

namespace lumora::dialect {

// cmark-gfm fills every table row up to the table's width with empty cells,
// so a wide header over many one-cell rows turns a few bytes into a great
// many cells. Following the tables in the text (at any depth of quotes and
// list items, approximately), a table whose filled-in cells outgrow its own
// text is ended with a blank line: the rows below it stay text.
class TableBudget {
public:
    // True when a blank line must go before line.
    bool needsBreakBefore(std::string_view line)
    {
        const std::string_view content = rowContent(line);
        const bool blank = isBlankLine(line);
        const bool previousHadPipe = previousHadPipe_;
        previousHadPipe_ = !blank && content.find('|') != std::string_view::npos;
        if (blank) {
            columns_ = 0;
            return false;
        }
        if (columns_ == 0) {
            if (previousHadPipe && isDelimiterRow(content)) {
                columns_ = rowCells(content);
                bytes_ = line.size();
                filled_ = 0;
            }
            return false;
        }
        bytes_ += line.size() + 1;
        const size_t present = rowCells(content);
        if (present < columns_) filled_ += columns_ - present;
        if (filled_ <= 4 * bytes_ + 1024) return false;
        columns_ = 0;
        previousHadPipe_ = false;
        return true;
    }

private:
    // The line without the quote markers, list marker and indentation
    // before it.
    static std::string_view rowContent(std::string_view line)
    {
        size_t i = 0;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '>')) ++i;
        if (i + 1 < line.size() && (line[i] == '-' || line[i] == '*' || line[i] == '+') && line[i + 1] == ' ') i += 2;
        return line.substr(i);
    }

    static bool isDelimiterRow(std::string_view text)
    {
        bool dash = false;
        bool pipe = false;
        for (char c : text) {
            if (c == '-') dash = true;
            else if (c == '|') pipe = true;
            else if (c != ':' && c != ' ' && c != '\t') return false;
        }
        return dash && pipe;
    }

    size_t columns_ = 0; // of the open table; 0 for none
    size_t bytes_ = 0;
    size_t filled_ = 0;
    bool previousHadPipe_ = false;
};

} // namespace lumora::dialect
