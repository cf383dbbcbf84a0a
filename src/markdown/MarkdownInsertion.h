#pragma once

#include "markdown/Markdown.h"
#include "markdown/MarkdownEditing.h"
#include "platform/foundation/Range.h"
#include "platform/text/TextStorage.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// The Format commands' edits: links and footnotes (new ones, and the turn
// between the inline and the numbered form, which keeps the numbered
// references of the whole text and their definitions in step), strong and
// emphasis. Like list continuation, none of these change the text: they
// return the edits, and the editor applies them as one step.
namespace lumora {

// What the conversion reads in a text, as far as Link and Footnote need it
// (the editor asks the conversion itself for it), so that they count and
// renumber what every output reads as links and notes, and nothing else.
struct ConversionReading {
    // Where every output shows the text as written (code spans, code
    // blocks, raw HTML blocks), in text order and apart. References and
    // definitions starting there are example text: they neither count nor
    // move.
    std::vector<Range> literal;
    // Each note's, citation's and glossary entry's definition, from the
    // start of its line to the end of what it says (its further lines and
    // paragraphs included), in text order.
    std::vector<Range> noteDefinitions;
};

// The address that stands in a new link until the writer types the real one.
QString placeholderLinkAddress();

// The inline element on the selection's lines whose range holds the whole
// selection (a caret at either edge counts), scanning from the start of the
// lines; nothing when there is none.
std::optional<Markdown::InlineElement> inlineElementAtSelection(QStringView text, Range selection);

// Link at the selection. Outside any element: a new inline link around the
// selected text (or a default label) with its placeholder address selected.
// In an inline link: the link becomes a numbered reference with its
// definition, and the later numbered references and their definitions move
// up by one. In a numbered reference: the link becomes inline again, its
// definition goes, and the later ones move down by one. In any other
// element: no edits.
//
// The edits are ordered from the end of the text backwards, so that each
// one leaves the ranges of the next valid; the selection of the last one is
// the one to keep. Numbered references count wherever they stand, inside
// strong and emphasized text too, but never in the reading's literal text.
// Numbers move from the one made or freed on, wherever they stand, so they
// stay apart however the writer's numbers run; a reference going inline
// keeps a definition that another reference still uses, and then moves no
// numbers. An inline link whose address holds an open parenthesis (which
// the conversion reads on past the scanner's end) is not turned: no edits.
// A new definition line ends in lineEnding (the document's own line break).
std::vector<MarkdownEdit> insertMarkdownLink(const TextStorage& storage, Range selection,
                                             const ConversionReading& reading, QStringView lineEnding = u"\n");

// The same for footnotes: a new inline footnote outside footnotes (in any
// other element too), and the turn between "[^text]" and a numbered
// footnote "[^n]" with its definition. A numbered note whose definition
// says more than its first line, or that is referred to elsewhere too, stays
// numbered (no edits): inline it would lose the rest, or become two notes.
// A note whose text holds a bracket is not turned either.
std::vector<MarkdownEdit> insertMarkdownFootnote(const TextStorage& storage, Range selection,
                                                 const ConversionReading& reading,
                                                 QStringView lineEnding = u"\n");

// Types, closes or removes marker around the selection: a marker right
// before and one right after go together; one on either side goes alone;
// with neither, the selection is wrapped (a caret gets one marker, which the
// next use closes), inside the white space at its edges, and what the
// markers enclose is selected.
MarkdownEdit toggleMarkdownMarker(QStringView text, Range selection, QStringView marker);

// Strong (kind Bold, "**") or Emphasis (kind Italic, "*"): inside an element
// of that kind, its markers go and its text stays selected; anywhere else
// the marker is toggled.
MarkdownEdit toggleMarkdownEmphasis(QStringView text, Range selection, Markdown::Kind kind);

} // namespace lumora
