#pragma once

#include "multimarkdown_binding/EngineText.h"

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
                columns_ = cells(content);
                bytes_ = line.size();
                filled_ = 0;
            }
            return false;
        }
        bytes_ += line.size() + 1;
        const size_t present = cells(content);
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

    static size_t cells(std::string_view text)
    {
        const std::string_view row = trimmedSpaces(text);
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

    size_t columns_ = 0; // of the open table; 0 for none
    size_t bytes_ = 0;
    size_t filled_ = 0;
    bool previousHadPipe_ = false;
};

} // namespace lumora::dialect
