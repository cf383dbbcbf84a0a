#pragma once

#include "multimarkdown_binding/SourceLines.h"

#include <string>
#include <string_view>

namespace lumora::dialect {

// Where MultiMarkdown's block rules differ from cmark's in ways a line can
// be rewritten for: an ordered list starting at any number may interrupt a
// paragraph (cmark lets only 1 do so), and a list marker may be followed by
// any white space (cmark reads five columns or more, two tabs say, as code
// in the item).
class ListRules {
public:
    // The line as cmark should read it (in storage when rewritten);
    // blankBefore when a blank line must go before it.
    std::string_view adjust(std::string_view line, std::string& storage, bool& blankBefore)
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

    // A line cmark reads as code or raw HTML.
    void skip()
    {
        previousBlank_ = false;
        previousParagraph_ = false;
    }

private:
    struct Marker {
        size_t length = 0; // indentation and marker
        bool ordered = false;
        unsigned long number = 0;
    };

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

    bool inList_ = false;
    bool previousBlank_ = true;
    bool previousParagraph_ = false;
};


} // namespace lumora::dialect
