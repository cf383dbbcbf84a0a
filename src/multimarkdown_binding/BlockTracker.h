#pragma once

#include "multimarkdown_binding/SourceLines.h"

#include <string>
#include <string_view>

namespace lumora::dialect {

// Follows, line by line at the top level of a text, what cmark reads as code
// or raw HTML: fenced code blocks, the raw HTML blocks that run to an end
// marker (script, pre, style, comments, processing instructions,
// declarations, CDATA) and those that run to the next blank line.
class BlockTracker {
public:
    bool isInsideBlock() const { return state_ != State::normal; }
    bool isInsideFence() const { return state_ == State::fence; }

    void feed(std::string_view line)
    {
        const bool previousBlank = previousBlank_;
        previousBlank_ = isBlankLine(line);
        switch (state_) {
        case State::fence:
            if (closesFence(line)) state_ = State::normal;
            return;
        case State::html:
            if (endsHtml(line)) state_ = State::normal;
            return;
        case State::htmlToBlank:
            if (previousBlank_) state_ = State::normal;
            return;
        case State::normal:
            break;
        }
        const size_t indent = leadingSpaces(line);
        if (indent > 3) return;
        const std::string_view rest = line.substr(indent);
        if (!rest.empty() && (rest[0] == '`' || rest[0] == '~')) {
            size_t run = 0;
            while (run < rest.size() && rest[run] == rest[0]) ++run;
            if (run >= 3 && (rest[0] == '~' || rest.substr(run).find('`') == std::string_view::npos)) {
                state_ = State::fence;
                fenceChar_ = rest[0];
                fenceLength_ = run;
                fenceIndent_ = indent;
            }
            return;
        }
        if (rest.size() < 2 || rest[0] != '<') return;
        static constexpr std::string_view rawTags[] = {"script", "pre", "style"};
        for (size_t i = 0; i < 3; ++i) {
            const std::string_view tag = rawTags[i];
            if (startsWithCaseless(rest.substr(1), tag)) {
                const size_t after = 1 + tag.size();
                if (after == rest.size() || rest[after] == ' ' || rest[after] == '\t' || rest[after] == '>') {
                    static constexpr std::string_view endTags[] = {"</script>", "</pre>", "</style>"};
                    startHtml(endTags[i], line);
                    return;
                }
            }
        }
        if (rest.substr(0, 4) == "<!--") return startHtml("-->", line);
        if (rest.substr(0, 2) == "<?") return startHtml("?>", line);
        if (rest.substr(0, 3) == "<![" && startsWithCaseless(rest.substr(3), "cdata[")) return startHtml("]]>", line);
        if (rest[1] == '!' && rest.size() > 2 && rest[2] >= 'A' && rest[2] <= 'Z') return startHtml(">", line);

        const size_t nameStart = rest[1] == '/' ? 2 : 1;
        size_t nameEnd = nameStart;
        while (nameEnd < rest.size() && isTagNameChar(rest[nameEnd])) ++nameEnd;
        if (nameEnd == nameStart || !((rest[nameStart] >= 'a' && rest[nameStart] <= 'z')
                                      || (rest[nameStart] >= 'A' && rest[nameStart] <= 'Z')))
            return;
        const char after = nameEnd < rest.size() ? rest[nameEnd] : ' ';
        if (isBlockTagName(rest.substr(nameStart, nameEnd - nameStart))) {
            if (after == ' ' || after == '\t' || after == '>' || rest.substr(nameEnd, 2) == "/>")
                state_ = State::htmlToBlank;
            return;
        }
        // Any other tag alone on its line, not in the middle of a paragraph.
        if (previousBlank && trimmedSpaces(rest).back() == '>') state_ = State::htmlToBlank;
    }

    // A line that ends the open block, for text that must not be swallowed
    // by it.
    std::string closingLine() const
    {
        // Indented as the opening fence was, so that a fence inside a list
        // item is closed there instead of opening another below the item.
        if (state_ == State::fence) return std::string(fenceIndent_, ' ') + std::string(fenceLength_, fenceChar_);
        if (state_ == State::html) return std::string(htmlEnd_);
        return {};
    }

private:
    enum class State { normal, fence, html, htmlToBlank };

    bool closesFence(std::string_view line) const
    {
        const size_t indent = leadingSpaces(line);
        if (indent > 3) return false;
        size_t run = indent;
        while (run < line.size() && line[run] == fenceChar_) ++run;
        return run - indent >= fenceLength_ && isBlankLine(line.substr(run));
    }

    bool endsHtml(std::string_view line) const { return containsCaseless(line, htmlEnd_); }

    void startHtml(std::string_view end, std::string_view line)
    {
        htmlEnd_ = end;
        state_ = endsHtml(line.substr(leadingSpaces(line) + 2)) ? State::normal : State::html;
    }

    State state_ = State::normal;
    bool previousBlank_ = true;
    char fenceChar_ = '`';
    size_t fenceLength_ = 0;
    size_t fenceIndent_ = 0;
    std::string_view htmlEnd_;
};

} // namespace lumora::dialect
