#pragma once

#include "multimarkdown_binding/SourceLines.h"

#include <optional>
#include <string>
#include <string_view>

namespace lumora::dialect {

// Lines MultiMarkdown reads as other blocks than cmark does, each rewritten
// to what cmark reads as that block. (ListRules does the same for lists.)

// A quote marker followed by a tab (after at most one space), or by four
// spaces, starts code in the quote: MultiMarkdown reads the tab or the four
// spaces after the marker as code's indentation, where cmark takes the
// marker's space first and counts the tab to the next tab stop, and finds
// too few columns. The line with the tab as the marker's space and four
// spaces, or with a space more after the marker.
inline std::optional<std::string> quotedCodeLine(std::string_view line)
{
    size_t i = leadingSpaces(line);
    if (i > 3 || i >= line.size() || line[i] != '>') return std::nullopt;
    while (i < line.size() && line[i] == '>') {
        ++i;
        if (i + 1 < line.size() && line[i] == ' ' && line[i + 1] == '>') ++i;
    }
    if (leadingSpaces(line.substr(i)) >= 4 && !isBlankLine(line.substr(i))) {
        std::string code(line.substr(0, i));
        code += ' ';
        code.append(line.substr(i));
        return code;
    }
    size_t tab = i;
    if (tab < line.size() && line[tab] == ' ') ++tab;
    if (tab >= line.size() || line[tab] != '\t' || isBlankLine(line.substr(tab))) return std::nullopt;
    std::string code(line.substr(0, i));
    code += "     ";
    code.append(line.substr(tab + 1));
    return code;
}

// Three or more "=" alone on a line where no paragraph goes on: no heading's
// underline, which MultiMarkdown reads as a rule (cmark as text). The line
// as the rule cmark reads, indented as it was.
inline std::optional<std::string> equalsRule(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3) return std::nullopt;
    const std::string_view rest = trimmedSpaces(line.substr(indent));
    if (rest.size() < 3 || rest.find_first_not_of('=') != std::string_view::npos) return std::nullopt;
    return std::string(indent, ' ') + "***";
}

} // namespace lumora::dialect
