#pragma once

#include "multimarkdown_binding/DialectSource.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::dialect {

// "key=value key2="a value"" and nothing else, appended to attributes;
// false (attributes as they were) for anything else or nothing.
bool parseLinkAttributes(std::string_view text, std::vector<LinkAttribute>& attributes);

// A link definition with attributes after its destination and title,
// "[id]: url "title" width=40px class=wide", as cmark reads it: without the
// attributes, its destination ending in attributesMark and the number of
// the attributes. Nothing when the line is no such definition. The
// attributes may stand on the next line, indented (usedNextLine).
std::optional<std::string> definitionWithoutAttributes(std::string_view line, std::string_view nextLine,
                                                       size_t number, std::vector<LinkAttribute>& attributes,
                                                       bool& usedNextLine);

} // namespace lumora::dialect
