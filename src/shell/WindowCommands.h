#pragma once

#include <QPointer>
#include <QVariant>

namespace lumora {

class MenuItem;
class PreviewViewController;
class WindowController;

// The commands a document window carries out for its document, its panes
// and the preferences its menus set, with the validation of their items.
// The command table reaches them through the window's controller, in its
// place in the responder chain (after the window, before the document):
// the document's file commands (save, revert to the saved text or to the
// version opened, duplicate; the title strip offers the document menu),
// the pane toggles and library commands, the preview, and the window's
// preference commands (editor size, statistics line, typewriter scrolling,
// typing sounds, focus highlighting, no-editing mode, library summary
// lines); check marks mirror the preferences, toggles name what they will
// do.
class WindowCommands {
public:
    explicit WindowCommands(WindowController& window);
    ~WindowCommands();
    WindowCommands(const WindowCommands&) = delete;
    WindowCommands& operator=(const WindowCommands&) = delete;

    // The pane toggles; the library commands show the library first and
    // are disabled while there is no library (hasLibraries()); New
    // Document and New Folder also while the pane's library shows no tree
    // (its folder gone, its disk away, still being read).
    void toggleLibraryView();
    bool isLibraryVisible() const;
    void showAndFocusLibraryView();
    void toggleOutlineView();
    bool isOutlineVisible() const;
    // The outline item hides while the document is not Markdown.
    bool showsMarkdown() const;
    void findInLibrary();
    void makeLibraryDocument();
    void makeLibraryFolder();
    bool hasLibraries() const;
    bool canMakeLibraryFiles() const;
    // Moves the document into the library shown. Its item ("Move “Notes.md”
    // into “Writing”") shows only for a document with a file outside that
    // library.
    void moveToLibrary();
    bool validateMoveToLibrary(MenuItem& item) const;
    // Keeps the library shown in the list, or lets it go; its item names it
    // and hides while no library is shown.
    void toggleLibraryLinked();
    bool validateToggleLibraryLinked(MenuItem& item) const;

    // The preview window of this window (made the first time it is shown):
    // while it is the frontmost window, hides it; otherwise renders the
    // document as it is now and brings it to the front. The preview is
    // rendered only then, not while the writer types.
    void togglePreviewWindow();
    PreviewViewController* previewWindowController() const;

    // There are no window tabs here: a new document in a window of its own.
    void newTab();
    // The document's file commands. A save that fails has offered its way
    // out already; a locked document says why it is not saved.
    void saveDocument();
    bool canSaveDocument() const;
    // Back to the saved text, or to the version opened once saves wrote
    // over it; asks first.
    void revertDocument();
    bool canRevertDocument() const;
    void duplicateDocument();
    // A key the locked document refused: once the key is done, one question
    // for the burst (keep it locked, or go on in a copy).
    void editingRefused();

    // The preferences the window's menus set (the items' values are the
    // preferences' values).
    void toggleInfoView();
    void toggleSounds();
    void toggleTypewriterScrolling();
    void toggleNoEditing();
    void setHighlighting(const QVariant& value);
    void setEditorSize(const QVariant& value);
    void setLibrarySummaryLines(const QVariant& value);

private:
    WindowController& m_window;
    QPointer<PreviewViewController> m_preview;
    // The preview had no frame of its own to come back to: it goes beside
    // the document window the first time it shows.
    bool m_placePreviewBeside = false;
    bool m_lockedPromptPending = false;
};

} // namespace lumora
