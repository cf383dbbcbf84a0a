#pragma once

#include <QPoint>
#include <QRect>

#include <vector>

class QWidget;

namespace lumora {

// Where a document window goes and how wide it is: the frame a new window
// takes, the width the editor size asks for, and the place of a preview
// beside its window where it has no frame of its own. Frames are kept
// under "documentWindow" and "previewWindow".
class WindowPlacement {
public:
    // A new window: its saved frame (else a default size), stepped aside
    // from the windows at taken so that it covers none exactly, and kept on
    // its screen.
    static void placeNewWindow(QWidget* window, const std::vector<QPoint>& taken);

    // Makes the window as wide as the editor size and the visible side panes
    // (sidePanesWidth; the whole width of its screen for the large size),
    // keeping its place in the free room of its own screen and staying on
    // that screen.
    static void resizeToEditorSize(QWidget* window, int sidePanesWidth);
    // The frame that makes: frame resized for an editor of editorSize (0 for
    // the whole width) beside side panes sidePanesWidth wide, on a screen
    // whose free area is screenArea.
    static QRect frameForEditorSize(const QRect& frame, const QRect& screenArea, double editorSize,
                                    int sidePanesWidth);

    // Where a new window with the given frame goes: inside the screen's free
    // area (made smaller when it does not fit), stepped down and right away
    // from the top-left corners of the other windows, and back to the
    // area's top or left edge where a step would leave it.
    static QRect cascadedFrame(const QRect& frame, const std::vector<QPoint>& taken, const QRect& area);

    // The preview window's frame as it was last; false when it has none
    // (or it lies off every screen), and it is to be placed beside its
    // document window.
    static bool restorePreviewFrame(QWidget* preview);
    // Beside the document window and as tall, to its right when there is
    // room, else to its left, else over its right side, in the width it has.
    // The preview is shown already, so that its frame is known.
    static void placePreviewBeside(QWidget* preview, const QWidget* window);
    // The frame that gives a preview previewWidth wide (its frame) beside a
    // document window whose frame is window, on a screen whose free area is
    // area.
    static QRect previewFrameBeside(const QRect& window, int previewWidth, const QRect& area);
};

} // namespace lumora
