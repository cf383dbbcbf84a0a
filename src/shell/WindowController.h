#pragma once

#include "platform/application/Responder.h"

#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>
#include <vector>


namespace lumora {

class Document;
class DocumentViewController;
class DocumentWindowBase;
class LibraryViewController;
class OutlineViewController;
class PreviewViewController;
class SplitView;

// The controller of one document window: a frameless window with its title
// strip (the main menu, the document's name, the window buttons) over a
// split view of three panes in fixed order, 0 the library pane, 1 the editor
// pane, 2 the outline pane. A side pane is visible exactly when it is not
// collapsed. The window's frame is kept under "documentWindow" and the
// panes' widths under "mainSplitView".
//
// In the responder chain it comes after the window and hands on to its
// document: it carries the document's file commands (save, revert to the
// saved text or to the version opened, duplicate; the title strip offers
// the document menu), the pane toggles and the window's preference
// commands (editor size, statistics line, typewriter scrolling, typing
// sounds, focus highlighting, no-editing mode, library summary lines) and
// validates their items (check marks mirror the preferences, toggles name
// what they will do).
//
// The window owns its controller. Closing the document's last window closes
// the document (which may ask to save, and may refuse); a window whose
// document the library still holds only lets go of it.
class WindowController : public QObject, public Responder {
    Q_OBJECT

public:
    // The split view's items.
    enum Item { libraryItem = 0, editorItem = 1, outlineItem = 2 };

    // Builds the window for the document and attaches the editor pane to it
    // (the document's text, caret at the start); the window is not shown.
    explicit WindowController(Document& document);
    ~WindowController() override;

    // The controller of the window holding widget, or nullptr.
    static WindowController* of(const QWidget* widget);
    // The controllers of the document's windows, in window order.
    static std::vector<WindowController*> controllersOf(const Document& document);
    // Every document window's controller.
    static std::vector<WindowController*> all();

    DocumentWindowBase* window() const { return m_window; }
    Document* document() const { return m_document; }
    SplitView* splitView() const { return m_splitView; }
    QMenuBar* menuBar() const { return m_menuBar; }

    // The visible side panes (nullptr while collapsed) and the editor pane.
    LibraryViewController* libraryViewController() const;
    DocumentViewController* documentViewController() const { return m_editorPane; }
    OutlineViewController* outlineViewController() const;
    // The side panes whether shown or not.
    LibraryViewController& libraryPane() const { return *m_libraryPane; }
    OutlineViewController& outlinePane() const { return *m_outlinePane; }

    bool isLibraryVisible() const;
    bool isOutlineVisible() const;
    void setLibraryVisible(bool visible);
    // Showing it for a Markdown document rebuilds the outline first.
    void setOutlineVisible(bool visible);

    // Makes the window as wide as the editor size and the visible side panes
    // (the whole width of its screen for the large size), keeping its place
    // in the free room of its own screen and staying on that screen.
    void resizeToEditorSize();
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

    // The window and its panes on the current theme's colours.
    void applyTheme();

    // The preview window of this window (made the first time it is shown):
    // while it is the frontmost window, hides it; otherwise renders the
    // document as it is now and brings it to the front. The preview is
    // rendered only then, not while the writer types.
    void togglePreviewWindow();
    PreviewViewController* previewWindowController() const;

    // The title strip is meant to be hidden while the writer writes; set it
    // to false and call updateTitleBar to show it. (The strip stays shown
    // until it learns to hide.)
    bool titleBarHidden = true;
    bool titleBarIsAlwaysVisible = false;
    void updateTitleBar();

    Responder* nextResponder() const override;
    std::optional<bool> validate(MenuItem& item) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUp();
    void updateTitle();
    bool windowShouldClose();
    void detachFromDocument();
    void editingRefused();
    void revertDocument();
    void updateEditorInsets();

    QPointer<Document> m_document;
    DocumentWindowBase* m_window = nullptr;
    SplitView* m_splitView = nullptr;
    LibraryViewController* m_libraryPane = nullptr;
    DocumentViewController* m_editorPane = nullptr;
    OutlineViewController* m_outlinePane = nullptr;
    QPointer<QMenuBar> m_menuBar;
    QPointer<PreviewViewController> m_preview;
    bool m_closingDocument = false;
    bool m_lockedPromptPending = false;
};

} // namespace lumora
