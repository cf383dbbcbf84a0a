#pragma once

#include "markdown/Markdown.h"
#include "platform/foundation/Range.h"
#include "platform/text/ParagraphStyle.h"
#include "platform/text/TextStorage.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

// Paragraph styling: how the scanners' findings become the look of the text.
//
// Callers own the loops and bracket them in one editing bracket of the
// storage: beginEditing(); resetMarkdownAttributes() over the whole range;
// applyMarkdown() for each paragraph of it in text order (while Markdown is
// on for the document); endEditing().
namespace lumora {

class ParsedMarkdownStylesheet;

// The usual restyle in one call: within one editing bracket, resets the
// paragraphs that range touches (the one after a range that ends with a line
// break included) and, when markdown is true, styles each of them. Where
// that opens, closes or changes a fenced code block, the paragraphs after
// them are restyled too, up to the first that ends as it was styled before.
// Returns the range of all those paragraphs.
//
// With followFrom, only so much of that following is done at once: then
// *followFrom is where the restyle must go on (and -1 when nothing waits).
Range restyleParagraphs(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, Range range,
                        bool markdown = true, qsizetype* followFrom = nullptr);

// The paragraphs restyleParagraphs restyles for range before it follows a
// fenced block into the text after them.
Range paragraphsToRestyle(const TextStorage& storage, Range range);

// The fenced code block open where the paragraph at location begins, as the
// paragraph before it was styled; nothing at the start of the text.
std::optional<Markdown::OpenFence> openFenceBefore(const TextStorage& storage, qsizetype location);

// Puts range back to the stylesheet's base look: removes the underline,
// colours, kern, obliqueness, shadow and strikethrough, then adds the base
// attributes. The engine's own keys are left alone.
void resetMarkdownAttributes(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, Range range);

// Styles one paragraph (with its line break; the last one runs to the end of
// the text): its line element (a fenced block's line, when the paragraph
// before left one open or this one opens one; see restyleParagraphs) and its styles and paragraph layout (heading spacing,
// hanging indents of list items and quotes), the "LMFullLineMarkdown" and,
// for a heading, "LMMarkdownOutline" marks, then every inline element.
//
// A heading keeps the outline entry it carries, so the sidebar's state
// survives typing; but an entry is never shared: when another heading
// paragraph of the same editing bracket already took it, or the paragraph
// before holds it too (a heading split or moved next to another), this one
// gets a new entry.
void applyMarkdown(TextStorage& storage, Range paragraph, const ParsedMarkdownStylesheet& parsed);

// Applies an element's styles: the first defined name of its whole-element
// list over range, then each part's list over that part.
void applyMarkdownStyles(TextStorage& storage, const ParsedMarkdownStylesheet& parsed, const Markdown& element,
                         Range range);

// Adds the first style of names that the stylesheet defines over range.
void applyFirstDefinedStyle(TextStorage& storage, const ParsedMarkdownStylesheet& parsed,
                            std::span<const QString> names, Range range);

// The style names tried for an element as a whole and for one of its parts,
// most specific first ("heading.2", "heading"; "heading.2.text", "heading.text").
std::span<const QString> wholeElementStyleNames(const Markdown& element);
std::span<const QString> partStyleNames(const Markdown& element, int part);

// The typeset width of the leading syntax (location, count) as it is styled,
// tabs advancing by the style's default tab interval.
double markerIndentWidth(const TextStorage& storage, qsizetype location, qsizetype count, const ParagraphStyle& style);

// Whether replacing range of text (the text before the edit) by replacement
// can change any Markdown styling: true when the replacement or the replaced
// text holds a syntax character or whitespace, when the character before
// the range is one, or when the character after it is a syntax character;
// also when a fence character ("`" or "~") is in the edit or next to it.
// A letter typed inside a word needs no restyle.
bool editTouchesMarkdownSyntax(QStringView text, Range range, QStringView replacement);

} // namespace lumora
