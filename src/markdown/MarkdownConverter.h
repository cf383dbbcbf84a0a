#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/TextStorage.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace lumora {

// Styled text (pasted rich text) to Markdown source, run by run: each run's
// text is wrapped in the markers its font and decorations call for (bold
// "**", italic "*", both "***", monospace "`", underline "_", strikethrough
// "~~"); a marker that neighbouring runs share stays open across them (bold
// italic is bold and italic, so "**bold *both***");
// white space and line ends stay outside the markers, which close at the end
// of every line; and a run's own marker characters in its text are escaped
// with a backslash. The items of lists (a paragraph style's list item) begin
// with "- " or their number, four spaces in for each list they stand in,
// with a blank line between a list and the text around it; a list that
// follows another on its level stands apart from it. Every other
// attribute (colours, sizes, links, paragraph layout) is dropped.
class MarkdownConverter {
public:
    // The conversion of one styled text, from its first run to its last.
    struct State {
        QString output;
        // Opened and not yet closed, in the order they were opened.
        QStringList openMarkers;
        // White space that ended the previous run's text, written once the
        // markers that end there are closed.
        std::optional<QString> heldWhitespace;
        // The list item whose lines are being written, last, after the
        // items it stands in, outermost first: a line of another item
        // begins with its marker, a further line of the same one (after a
        // line break in it) is indented under it.
        QList<ParagraphStyle::ListItem> listItems;
    };

    // The markers of a run with these attributes, in the order they open:
    // "**", "*", "`", "_", "~~".
    static QStringList markers(const Attributes& attributes);

    // Converts one run (range of string, carrying attributes) into state.
    void markdownForRun(const Attributes& attributes, Range range, const TextStorage& string, State& state) const;

    // Closes what is still open, last opened first, then writes the held
    // white space.
    static void finish(State& state);

    // The Markdown of a whole styled text: every run in order, then finish.
    static QString markdown(const TextStorage& string);
};

} // namespace lumora
