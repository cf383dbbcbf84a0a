#pragma once

// What one line of Markdown is, as the line-by-line pass of DialectSource
// reads it: its indentation, and whether it starts a block, a heading, a
// definition or a definition list's definition.

#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/EngineText.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace lumora::dialect {

inline size_t leadingSpaces(std::string_view line)
{
    size_t n = 0;
    while (n < line.size() && line[n] == ' ') ++n;
    return n;
}

inline bool isIndentedLine(std::string_view line)
{
    return (!line.empty() && line[0] == '\t') || leadingSpaces(line) >= 4;
}

// The line without up to four columns of indentation (four spaces or a tab).
inline std::string_view dedented(std::string_view line)
{
    if (!line.empty() && line[0] == '\t') return line.substr(1);
    return line.substr(std::min<size_t>(leadingSpaces(line), 4));
}

inline bool startsWithCaseless(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (asciiLower(text[i]) != prefix[i]) return false;
    return true;
}

inline bool containsCaseless(std::string_view text, std::string_view needle)
{
    if (needle.size() > text.size()) return false;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (startsWithCaseless(text.substr(i), needle)) return true;
    return false;
}

inline bool isAtxHeading(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3) return false;
    size_t i = indent;
    while (i < line.size() && line[i] == '#') ++i;
    const size_t hashes = i - indent;
    return hashes >= 1 && hashes <= 6 && (i == line.size() || line[i] == ' ' || line[i] == '\t');
}

// "***", "- - -", "___" and the like (rest: the line without its indentation).
inline bool isThematicBreak(std::string_view rest)
{
    if (rest.empty()) return false;
    const char c = rest[0];
    if (c != '-' && c != '*' && c != '_') return false;
    size_t count = 0;
    for (char d : rest) {
        if (d == c) ++count;
        else if (d != ' ' && d != '\t') return false;
    }
    return count >= 3;
}

// A line that begins a block of its own and so ends a definition's lazy
// continuation: heading, quote, fence, list item or thematic break.
inline bool startsBlock(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3) return false;
    const std::string_view rest = line.substr(indent);
    if (rest.empty()) return false;
    if (isAtxHeading(line) || rest[0] == '>') return true;
    if (rest.substr(0, 3) == "```" || rest.substr(0, 3) == "~~~") return true;
    const char c = rest[0];
    if ((c == '-' || c == '+' || c == '*')
        && (rest.size() == 1 || rest[1] == ' ' || rest[1] == '\t'))
        return true;
    size_t digits = 0;
    while (digits < rest.size() && digits < 10 && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    if (digits > 0 && digits < rest.size() && (rest[digits] == '.' || rest[digits] == ')')
        && (digits + 1 == rest.size() || rest[digits + 1] == ' ' || rest[digits + 1] == '\t'))
        return true;
    return isThematicBreak(rest);
}

inline bool isTagNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The HTML tags that start a raw HTML block which may interrupt a paragraph
// and runs to the next blank line.
inline bool isBlockTagName(std::string_view name)
{
    static constexpr std::string_view names[] = {
        "address", "article", "aside", "base", "basefont", "blockquote", "body", "caption", "center", "col",
        "colgroup", "dd", "details", "dialog", "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure",
        "footer", "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "hr",
        "html", "iframe", "legend", "li", "link", "main", "menu", "menuitem", "nav", "noframes", "ol",
        "optgroup", "option", "p", "param", "section", "source", "summary", "table", "tbody", "td", "tfoot",
        "th", "thead", "title", "tr", "track", "ul"};
    if (name.size() > 10) return false;
    std::string lower;
    for (char c : name) lower += asciiLower(c);
    for (std::string_view known : names)
        if (lower == known) return true;
    return false;
}

struct DefinitionStart {
    NoteKind kind;
    std::string_view label;
    std::string_view rest;
};

// "[^id]: text", "[#key]: text", "[?term]: text" or "[>ABBR]: text".
inline std::optional<DefinitionStart> definitionStart(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3 || line.size() < indent + 5 || line[indent] != '[') return std::nullopt;
    NoteKind kind;
    switch (line[indent + 1]) {
    case '^': kind = NoteKind::footnote; break;
    case '#': kind = NoteKind::citation; break;
    case '?': kind = NoteKind::glossary; break;
    case '>': kind = NoteKind::abbreviation; break;
    default: return std::nullopt;
    }
    size_t i = indent + 2;
    while (i < line.size() && line[i] != ']' && line[i] != '[') {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        ++i;
    }
    if (i + 1 >= line.size() || line[i] != ']' || line[i + 1] != ':') return std::nullopt;
    const std::string_view label = trimmedSpaces(line.substr(indent + 2, i - indent - 2));
    if (label.empty()) return std::nullopt;
    return DefinitionStart{kind, label, trimmedSpaces(line.substr(i + 2))};
}

// "[label]: destination" on one line: a link reference definition that the
// notes, parsed on their own, must know too.
inline bool isLinkDefinition(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    if (indent > 3 || line.size() < indent + 4 || line[indent] != '[') return false;
    size_t i = indent + 1;
    if (i < line.size() && (line[i] == '^' || line[i] == '#' || line[i] == '?' || line[i] == '>')) return false;
    while (i < line.size() && line[i] != ']' && line[i] != '[') {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        ++i;
    }
    if (i == indent + 1 || i + 1 >= line.size() || line[i] != ']' || line[i + 1] != ':') return false;
    return !trimmedSpaces(line.substr(i + 2)).empty();
}

// ":   definition" at most three spaces in.
inline bool isDefinitionLine(std::string_view line)
{
    const size_t indent = leadingSpaces(line);
    return indent <= 3 && indent + 1 < line.size() && line[indent] == ':'
        && (line[indent + 1] == ' ' || line[indent + 1] == '\t');
}

inline std::string_view lineAt(std::string_view text, size_t position)
{
    const size_t end = text.find('\n', position);
    return text.substr(position, (end == std::string_view::npos ? text.size() : end) - position);
}

} // namespace lumora::dialect
