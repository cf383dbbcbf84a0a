#include "multimarkdown_binding/LinkDefinitions.h"

#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/SourceLines.h"

#include <cctype>

namespace lumora::dialect {

namespace {

bool isAttributeKeyChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':';
}

} // namespace

// "key=value key2="a value"" and nothing else; false leaves attributes as
// they were.
bool parseLinkAttributes(std::string_view text, std::vector<LinkAttribute>& attributes)
{
    std::vector<LinkAttribute> parsed;
    size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i == text.size()) break;
        const size_t keyStart = i;
        while (i < text.size() && isAttributeKeyChar(text[i])) ++i;
        if (i == keyStart || i >= text.size() || text[i] != '=' || !std::isalpha(static_cast<unsigned char>(text[keyStart])))
            return false;
        LinkAttribute attribute;
        attribute.key = std::string(text.substr(keyStart, i - keyStart));
        ++i;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i];
            const size_t end = text.find(quote, i + 1);
            if (end == std::string_view::npos) return false;
            attribute.value = std::string(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            const size_t valueStart = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '"' && text[i] != '\'') ++i;
            if (i == valueStart) return false;
            attribute.value = std::string(text.substr(valueStart, i - valueStart));
        }
        if (i < text.size() && text[i] != ' ' && text[i] != '\t') return false;
        parsed.push_back(std::move(attribute));
    }
    if (parsed.empty()) return false;
    attributes.insert(attributes.end(), parsed.begin(), parsed.end());
    return true;
}

std::optional<std::string> definitionWithoutAttributes(std::string_view line, std::string_view nextLine,
                                                       size_t number, std::vector<LinkAttribute>& attributes,
                                                       bool& usedNextLine)
{
    usedNextLine = false;
    if (!isLinkDefinition(line)) return std::nullopt;
    size_t i = line.find("]:") + 2;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t destinationStart = i;
    size_t destinationEnd;
    bool pointy = false;
    if (line[i] == '<') {
        const size_t close = line.find('>', i);
        if (close == std::string_view::npos || line.substr(i + 1, close - i - 1).find('<') != std::string_view::npos)
            return std::nullopt;
        destinationEnd = close + 1;
        pointy = true;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            if (line[i] == '<' || line[i] == '>') return std::nullopt;
            ++i;
        }
        destinationEnd = i;
    }
    i = destinationEnd;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t titleStart = i;
    size_t titleEnd = i;
    if (i < line.size() && (line[i] == '"' || line[i] == '\'' || line[i] == '(')) {
        const char close = line[i] == '(' ? ')' : line[i];
        size_t j = i + 1;
        while (j < line.size() && line[j] != close) {
            if (line[j] == '\\') ++j;
            ++j;
        }
        if (j >= line.size()) return std::nullopt;
        titleEnd = j + 1;
    }
    std::vector<LinkAttribute> found;
    const std::string_view rest = line.substr(titleEnd);
    const bool onLine = !isBlankLine(rest) && parseLinkAttributes(rest, found);
    if (!onLine && !isBlankLine(rest)) return std::nullopt;
    if (!nextLine.empty() && (nextLine[0] == ' ' || nextLine[0] == '\t') && parseLinkAttributes(nextLine, found))
        usedNextLine = true;
    if (found.empty()) return std::nullopt;
    attributes = std::move(found);

    std::string result(line.substr(0, destinationStart));
    result += '<';
    result.append(line.substr(destinationStart + (pointy ? 1 : 0),
                              destinationEnd - destinationStart - (pointy ? 2 : 0)));
    result += char(attributesMark);
    result += std::to_string(number);
    result += '>';
    if (titleEnd > titleStart) {
        result += ' ';
        result.append(line.substr(titleStart, titleEnd - titleStart));
    }
    return result;
}

} // namespace lumora::dialect
