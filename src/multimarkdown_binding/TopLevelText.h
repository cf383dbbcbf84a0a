#pragma once

#include "multimarkdown_binding/SourceLines.h"

#include <string_view>
#include <utility>

namespace lumora::dialect {

// Follows whether the body's last line is a line of a paragraph (or a
// table) at the top level, or a line in a quote or a list item (lazy
// continuations included). MultiMarkdown reads a definition on the line right
// under such a line as a definition; cmark would continue the paragraph with
// it, so a blank line goes between them.
class TopLevelText {
public:
    bool isOpen() const { return kind_ == Kind::text && !previousBlank_; }
    bool isNestedOpen() const { return kind_ == Kind::nested && !previousBlank_; }
    // Whether a block may begin at the next line: after a blank line or a
    // block that no text continues (a heading, code, a rule), not in a
    // paragraph, quote or list item.
    bool atBlockStart() const { return previousBlank_ || kind_ == Kind::other; }

    // A line cmark reads as block structure (not code, not raw HTML).
    void feed(std::string_view line)
    {
        if (isBlankLine(line)) {
            previousBlank_ = true;
            return;
        }
        const bool afterBlank = std::exchange(previousBlank_, false);
        const bool indented = isIndentedLine(line);
        if (!indented && startsBlock(line)) {
            const std::string_view rest = line.substr(leadingSpaces(line));
            const bool container = rest[0] == '>' || !(isAtxHeading(line) || rest[0] == '`' || rest[0] == '~'
                                                       || isThematicBreak(rest));
            kind_ = container ? Kind::nested : Kind::other;
            inContainer_ = container;
            return;
        }
        // A paragraph goes on, in a quote or an item lazily.
        if (!afterBlank && kind_ != Kind::other) return;
        // After a blank line, indented text belongs to the open item.
        if (afterBlank && inContainer_ && (indented || leadingSpaces(line) > 0)) {
            kind_ = Kind::nested;
            return;
        }
        inContainer_ = false;
        kind_ = indented ? Kind::other : Kind::text;
    }

    // A line of code or raw HTML.
    void skip()
    {
        previousBlank_ = false;
        kind_ = Kind::other;
    }

private:
    enum class Kind { other, text, nested };
    Kind kind_ = Kind::other;
    bool previousBlank_ = true;
    bool inContainer_ = false;
};

} // namespace lumora::dialect
