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
class TitleStripController;
class WindowPanes;

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
    // (see WindowPlacement).
    void resizeToEditorSize();

    // The window and its panes on the current theme's colours.
    void applyTheme();

    // The preview window of this window (made the first time it is shown):
    // while it is the frontmost window, hides it; otherwise renders the
    // document as it is now and brings it to the front. The preview is
    // rendered only then, not while the writer types.
    void togglePreviewWindow();
    PreviewViewController* previewWindowController() const;

    // The title strip's showing and hiding.
    TitleStripController& titleStrip() const { return *m_titleStrip; }

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
    void updateTitle();
    bool windowShouldClose();
    void detachFromDocument();
    void editingRefused();
    void updateEditorInsets();

    QPointer<Document> m_document;
    DocumentWindowBase* m_window = nullptr;
    std::unique_ptr<WindowPanes> m_panes;
    std::unique_ptr<TitleStripController> m_titleStrip;
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
