#pragma once

#include <string>
#include <string_view>

namespace lumora::dialect {

// Before the text reaches cmark, each CriticMarkup delimiter and each
// backslash-escaped bracket becomes one control byte. The engine text never
// holds these bytes (EngineText turns them into U+FFFD), so a marker always
// stands for what the writer typed. cmark's inline parser hands the markers
// to our syntax extension; wherever the parser does not look (code, raw HTML,
// link destinations), the markers are turned back into the original text.
enum Marker : unsigned char {
    insertionOpen = 0x01,    // {++
    insertionClose = 0x02,   // ++}
    deletionOpen = 0x03,     // {--
    deletionClose = 0x04,    // --}
    substitutionOpen = 0x05, // {~~
    substitutionClose = 0x06, // ~~}
    substitutionSplit = 0x07, // ~>
    highlightOpen = 0x0E,    // {==
    highlightClose = 0x0F,   // ==}
    commentOpen = 0x10,      // {>>
    commentClose = 0x11,     // <<}
    escapedOpenBracket = 0x12,  // \[
    escapedCloseBracket = 0x13, // \]
    noteSeparator = 0x14,    // inside the comment that separates appended notes
    escapedQuote = 0x15,       // \' (stays straight under smart typography)
    escapedDoubleQuote = 0x16, // \"
    attributesMark = 0x17,     // ends a link destination whose definition has attributes
    inlineMathOpen = 0x18,     // \\(
    inlineMathClose = 0x19,    // \\)
    displayMathOpen = 0x1A,    // \\[
    displayMathClose = 0x1B,   // \\]
};

inline bool isMarker(unsigned char c)
{
    return (c >= insertionOpen && c <= substitutionSplit) || (c >= highlightOpen && c <= displayMathClose);
}

// What the writer typed for a marker.
inline std::string_view markerSource(unsigned char c)
{
    switch (c) {
    case insertionOpen: return "{++";
    case insertionClose: return "++}";
    case deletionOpen: return "{--";
    case deletionClose: return "--}";
    case substitutionOpen: return "{~~";
    case substitutionClose: return "~~}";
    case substitutionSplit: return "~>";
    case highlightOpen: return "{==";
    case highlightClose: return "==}";
    case commentOpen: return "{>>";
    case commentClose: return "<<}";
    case escapedOpenBracket: return "\\[";
    case escapedCloseBracket: return "\\]";
    case escapedQuote: return "\\'";
    case escapedDoubleQuote: return "\\\"";
    case inlineMathOpen: return "\\\\(";
    case inlineMathClose: return "\\\\)";
    case displayMathOpen: return "\\\\[";
    case displayMathClose: return "\\\\]";
    default: return "\xEF\xBF\xBD";
    }
}

// The separator line placed before each appended note: an HTML comment, so
// that it closes every open list, quote or paragraph of the text before it.
inline constexpr std::string_view noteSeparatorLine = "<!--\x14-->";

inline bool containsMarker(const unsigned char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (data[i] < 0x20 && isMarker(data[i])) return true;
    return false;
}

// The text with its markers turned back into what the writer typed. Where
// cmark has already applied backslash escapes (link destinations and
// titles, code-fence info), unescaped is true and an escaped bracket comes
// back without its backslash.
inline std::string restoredText(std::string_view text, bool unescaped)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 || !isMarker(c)) {
            out += ch;
        } else if (c == noteSeparator) {
            // A separator line swallowed by code or raw HTML left open in a
            // note: it goes away whole.
            if (out.size() >= 4 && std::string_view(out).substr(out.size() - 4) == "<!--") out.resize(out.size() - 4);
            if (text.substr(i + 1, 3) == "-->") i += 3;
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (unescaped && c == escapedOpenBracket) {
            out += '[';
        } else if (unescaped && c == escapedCloseBracket) {
            out += ']';
        } else if (unescaped && c >= inlineMathOpen && c <= displayMathClose) {
            // "\\(" read as an escaped backslash and a parenthesis.
            out += markerSource(c).substr(1);
        } else if (unescaped && c == escapedQuote) {
            out += '\'';
        } else if (unescaped && c == escapedDoubleQuote) {
            out += '"';
        } else if (c == attributesMark) {
            // A destination's attributes go with its definition: the mark and
            // the number after it are no part of the text.
            while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') ++i;
        } else {
            out += markerSource(c);
        }
    }
    return out;
}

} // namespace lumora::dialect
