#pragma once

#include "markdown/MarkdownScanner.h"
#include "platform/text/TextBoundaries.h"
#include "platform/text/TextStorage.h"

namespace lumora::test {

// Marks each paragraph with its line element, as the styling does, without
// needing a stylesheet.
inline void markParagraphs(TextStorage& s)
{
    text::enumerateSubstrings(s.string(), Range(0, s.length()), text::Unit::Paragraphs, text::Direction::Forward,
                              [&](Range, Range paragraph) {
                                  if (auto line = markdownLineElement(s.string(), paragraph.location, paragraph.length))
                                      s.addAttribute(AttributeKey::FullLineMarkdown, line->element.boxed(), paragraph);
                                  return true;
                              });
}

} // namespace lumora::test
