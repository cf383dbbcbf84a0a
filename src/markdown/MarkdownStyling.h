#pragma once

#include "platform/Range.h"

#include <QStringView>

namespace lumora {

// Whether replacing range of text (the text before the edit) by replacement
// can change any Markdown styling: true when the replacement or the replaced
// text holds a syntax character or whitespace, when the character before
// the range is one, or when the character after it is a syntax character.
// A letter typed inside a word needs no restyle.
bool editTouchesMarkdownSyntax(QStringView text, Range range, QStringView replacement);

} // namespace lumora
