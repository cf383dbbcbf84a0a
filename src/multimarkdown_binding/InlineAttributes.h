#pragma once

#include "multimarkdown_binding/DialectSource.h"

#include <cmark-gfm.h>

#include <optional>
#include <string>
#include <vector>

namespace lumora::dialect {

// The part in parentheses after "[text]" or "![alt]" that cmark cannot read
// as a destination because attributes follow it:
// `(destination "title" width=40px class=wide)`.
struct InlineDestination {
    std::string url;
    std::string title;
    std::vector<LinkAttribute> attributes;
    // Where the text after the closing parenthesis starts: a text node and
    // an offset in it.
    cmark_node* endNode = nullptr;
    size_t endOffset = 0;
};

// Reads such a part from the "(" at offset open of the text node node on,
// through the text of its next siblings (an address cmark made a link of
// counts as its text, a line break as a space, raw HTML as written).
// Nothing when it is no such part. Stops at the first bracket, so that
// reading from every "](" of a paragraph reads each byte once at most.
std::optional<InlineDestination> destinationWithAttributes(cmark_node* node, size_t open);

} // namespace lumora::dialect
