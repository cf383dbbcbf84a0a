#pragma once

#include "library/LibraryViewController.h"

#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QList>
#include <QRect>

#include <memory>
#include <optional>
#include <vector>


namespace lumora {

class Document;
class DocumentViewController;
class Library;
class DocumentWindowBase;
class LibraryViewController;
class MenuItem;
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
// In the responder chain it comes after the window and leads to its
// document: it carries the document's file commands (save, revert to the
// saved text or to the version opened, duplicate; the title strip offers
// the document menu), the pane toggles and the window's preference
// commands (editor size, statistics line, typewriter scrolling, typing
// sounds, focus highlighting, no-editing mode, library summary lines); the
// command table validates their items from what it answers (check marks
// mirror the preferences, toggles name what they will do).
//
// The window owns its controller. Closing the document's last window closes
// the document (which may ask to save, and may refuse); a window whose
// document the library still holds only lets go of it.
//
// The library pane may show another document in the window (a row opened
// there): the window then leaves its document the way closing would, and
// takes the new one in its place.
class WindowController : public QObject, public LibraryPaneHost {
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

    // ---- The title strip
    //
    // The strip (menus, title, window buttons) floats over the top of the
    // panes and is hidden while the writer writes: a new window starts
    // without it, it fades out when typing starts and when the mouse leaves
    // it, and fades in when the mouse comes to the top of the window (over
    // the side panes too: its menus and buttons are there). When the mouse
    // goes down into a side pane it goes at once. It stays while one of the
    // window's menus or dialogs is open, while the find bar shows (the
    // editor then sits below it) and while the keyboard is in the menus
    // (Alt); in full screen it stands above the panes for good. Showing and
    // hiding it moves nothing in the text: only the editor's scroll bar
    // makes room for it.

    // The strip is meant to be hidden; set it to false and call
    // updateTitleBar to show it.
    bool titleBarHidden = true;
    // Whether the strip never hides. A window in a tab group would keep its
    // strip, which holds the tabs; there are no window tabs here, so no
    // window is ever in a tab group and this stays false.
    bool titleBarIsAlwaysVisible = false;
    // Shows or hides the strip as titleBarHidden and the window's state say,
    // and sets the editor's insets to match.
    void updateTitleBar();
    // titleBarHidden from where the mouse is, then updateTitleBar: hidden
    // over a side pane or away from the strip; at the strip shown, except
    // when the mouse has just left a side pane for the strip of the key
    // window (exited).
    void updateTitleBarHidden(bool exited);
    bool isMouseOverSidePane() const;
    // Following the mouse over the strip and the side panes (off in full
    // screen).
    void addTrackingAreas();
    void removeTrackingAreas();
    bool isTrackingMouse() const { return m_tracking; }
    // Where the mouse is, in global coordinates.
    QPoint mouseLocation() const;

    // The strip's menus (its menu bar's, the title's document menu) and the
    // dialogs of this window: while any is open the strip stays; a dialog
    // shows it. (Told by a watcher of the application.)
    void popupWillShow(QWidget* popup);
    void popupDidClose(QWidget* popup);
    void sheetWillBegin(QWidget* dialog);
    void sheetDidEnd(QWidget* dialog);
    int openPopupCount() const;
    bool hasAttachedSheet() const;

    // The library the library pane shows while it is visible, or none.
    // (The pane shows a folder: this is the library list's entry for it.)
    std::shared_ptr<Library> shownLibrary() const;

    // What the window brings back at the next launch besides its frame:
    // the folder its library pane shows, and the editor's selection and
    // scroll position.
    QVariantMap restorableState() const;
    void restoreState(const QVariantMap& state);

    // ---- The window's commands
    //
    // The pane toggles; the library commands show the library first and
    // are disabled while there is no library (hasLibraries()).
    void toggleLibraryView();
    void showAndFocusLibraryView();
    void toggleOutlineView();
    // The outline item hides while the document is not Markdown.
    bool showsMarkdown() const;
    void findInLibrary();
    void makeLibraryDocument();
    void makeLibraryFolder();
    bool hasLibraries() const;
    // Moves the document into the library shown. Its item ("Move “Notes.md”
    // into “Writing”") shows only for a document with a file outside that
    // library.
    void moveToLibrary();
    bool validateMoveToLibrary(MenuItem& item) const;
    // Keeps the library shown in the list, or lets it go; its item names it
    // and hides while no library is shown.
    void toggleLibraryLinked();
    bool validateToggleLibraryLinked(MenuItem& item) const;
    // There are no window tabs here: a new document in a window of its own.
    void newTab();
    // The document's file commands. A save that fails has offered its way
    // out already; a locked document says why it is not saved.
    void saveDocument();
    bool canSaveDocument() const { return m_document != nullptr; }
    // Back to the saved text, or to the version opened once saves wrote
    // over it; asks first.
    void revertDocument();
    bool canRevertDocument() const;
    void duplicateDocument();
    // The preferences the window's menus set (the items' values are the
    // preferences' values).
    void toggleInfoView();
    void toggleSounds();
    void toggleTypewriterScrolling();
    void toggleNoEditing();
    void setHighlighting(const QVariant& value);
    void setEditorSize(const QVariant& value);
    void setLibrarySummaryLines(const QVariant& value);

    // LibraryPaneHost
    Document* paneDocument() const override { return m_document; }
    bool leaveDocument() override;
    void showDocument(Document& document) override;
    void showUntitledDocument() override;
    QByteArray editorState() const override;
    void restoreEditorState(const QByteArray& state) override;
    void presentError(const PlatformError& error) override;
    void printDocuments(const std::vector<Document*>& documents) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUp();
    void connectDocument();
    void setUpTitleStrip();
    void mouseMoved(const QPoint& globalPosition);
    void mouseLeftWindow();
    void mouseEntered();
    void mouseExited();
    void windowStateChanged(Qt::WindowStates oldState);
    bool isFocusOutsideContent() const;
    QRect titleStripScreenArea() const;
    void updateTitle();
    bool windowShouldClose();
    void detachFromDocument();
    void editingRefused();
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

    // The title strip's state.
    QWidget* m_scrollerInset = nullptr;
    QList<QPointer<QWidget>> m_openPopups;
    QList<QPointer<QWidget>> m_sheets;
    bool m_tracking = false;
    bool m_overStrip = false;
    bool m_overLibrary = false;
    bool m_overOutline = false;
    bool m_hiddenByTyping = false;
    bool m_windowGone = false;
    std::optional<QPoint> m_mouse;
    Qt::WindowStates m_windowState;
};

} // namespace lumora
