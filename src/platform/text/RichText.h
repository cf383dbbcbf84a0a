#pragma once

#include "platform/text/TextStorage.h"

#include <QString>

namespace lumora {

// The styled text of an HTML clipboard (the rich flavour browsers, office
// programs and Qt programs offer here), read as Qt's text document reads it:
// one line break between paragraphs (table cells and list items are
// paragraphs too), a line break for <br>, images left out. Each run carries
// only what a writer's styling says: a font (bold, italic and fixed-pitch
// flags set) where the text is bold, italic or monospaced, underline or
// strikethrough where it is decorated (<s>, <strike> and <del> alike), and
// in the paragraphs of lists a paragraph style that holds only the list item
// (ParagraphStyle::listItem, numbered from the list's first number,
// <ol start="3">, and telling each list from the others); plain text carries
// nothing. The underline Qt gives every link is not kept, and a non-breaking
// space, which pages use to keep runs of spaces, reads as a space.
TextStorage attributedStringFromHTML(const QString& html);

} // namespace lumora
