#pragma once

#include "markdown/SyntaxRanges.h"
#include "platform/foundation/Range.h"
#include "platform/text/TextStorage.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// Keeping lists, block quotes and code lines going while the writer types.
// None of these change the text: each returns the edit to make (or nothing),
// and the editor applies it through its one replace operation so that undo,
// restyling and the outline see an ordinary change.
namespace lumora {

// One edit: replace range (of the current text; empty for an insertion) by
// replacement, then select selection (in the changed text).
struct MarkdownEdit {
    QString replacement;
    Range range;
    Range selection;
    friend bool operator==(const MarkdownEdit&, const MarkdownEdit&) = default;
};

// An indentation change: replace range by replacement; the caret moves with
// the text.
struct IndentationEdit {
    Range range;
    QString replacement;
    friend bool operator==(const IndentationEdit&, const IndentationEdit&) = default;
};

// After a change that inserted editedRange: when that is one line break (one
// newline character, or "\r\n") ending a list item, block quote or code line, the prefix for the new line
// (the next number for an ordered item); when the line held nothing but its
// prefix, the removal of that prefix, which ends the list: the line stays
// blank and the caret stands after the new line break.
std::optional<MarkdownEdit> listContinuation(QStringView text, Range editedRange);

// After a change that inserted editedRange: when that completed a fence
// marker ("```", or as long as the block's opening one) that ends its line,
// on a line of a fenced block that is still open, and only the indentation
// Return carried over from the code line above stands before it, the edit
// that gives the line the opening fence's indentation instead. Indented so,
// the line would be code, not the end of the block, in every conversion.
// text holds at least the line of the change; fences gives text's fenced
// blocks, asked for only when everything else fits.
std::optional<MarkdownEdit> fenceClosing(QStringView text, Range editedRange,
                                         const std::function<const CodeFences&()>& fences);

// Tab in a list item: one more level of indentation before the marker (four
// spaces when the item is indented with spaces, else a tab). Nothing outside
// list items, so that the editor types a tab.
std::optional<IndentationEdit> indentListItem(const TextStorage& storage, qsizetype location);

// Backtab in an indented list item: one level less (four spaces or a tab,
// whichever the item starts with). Nothing for a top-level item or outside
// list items.
std::optional<IndentationEdit> outdentListItem(const TextStorage& storage, qsizetype location);

} // namespace lumora
