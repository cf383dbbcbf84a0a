#pragma once

#include "platform/foundation/Range.h"

#include <optional>

namespace lumora {

class TextView;

// Where an editor's text stands in its view: the writing column and its
// insets, the places kept through a new size or inset, typewriter
// scrolling (the writer's line held at one height while typing), and
// scrolling a position to a given height. The layout only estimates the
// height of text it has not shown, so every scroll to a place measures the
// text that will stand around it first: the place then holds while the
// rest of a long text is measured.
class EditorScrolling {
public:
    explicit EditorScrolling(TextView& view) : m_view(view) {}

    // The writing column (the editor size, centred) and the top and bottom
    // insets; changes the layout only when a value changed. With keepPlace
    // the text stays where it stood in the view.
    void updateInsets(bool keepPlace);

    // What the view keeps in place while its size or insets change: the
    // caret's line when it is in sight, else the line at the top. A caret's
    // line stays in sight: where the view's new edge would cover it (the
    // statistics line shown below it, a smaller window), the text scrolls
    // by as much as it takes.
    struct ViewAnchor {
        qsizetype position = 0;
        int y = 0;
        bool isCaret = false;
    };
    ViewAnchor viewAnchor() const;
    void restoreViewAnchor(const ViewAnchor& anchor);

    // Typewriter scrolling: before an edit, where the line that holds the
    // end of the selection stands (forgotten when typewriter is off); after
    // it, the scroll that puts that line back there.
    void noteInsertionLine(bool typewriter);
    void keepInsertionLineInPlace();

    // See TextView: Jump to Selection, the distance of the selection from
    // the top, a position scrolled to a distance from the top, the text in
    // and around the view.
    void centerSelection();
    int selectionDistanceFromTop() const;
    void scrollPositionToDistanceFromTop(qsizetype position, int distance);
    Range shownRange() const;

private:
    // The bottom edge, in the viewport, of the line that holds the end of
    // the selection.
    int insertionBottom() const;
    void measureShownAround(qsizetype position, int distance);

    TextView& m_view;
    // Where the selection's line stood before the edit.
    std::optional<int> m_oldInsertionOrigin;
};

} // namespace lumora
