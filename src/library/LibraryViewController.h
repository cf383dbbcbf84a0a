#pragma once

#include "library/File.h"
#include "library/FileController.h"
#include "library/LibraryController.h"
#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QModelIndexList>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QToolButton;

namespace lumora {

class Document;
class FileRowDelegate;
class LibraryChooser;
class LibraryDocumentOpener;
class LibraryFileCommands;
class LibraryOutlineModel;
class LibraryOutlineView;
class LibraryPaneHeader;
class LibraryPaneMessages;
class LibraryRows;
class LibrarySearchAndSort;
class LibrarySelection;
class LibraryTreeLoader;
class LibraryView;

// What the library pane needs of the window it stands in.
class LibraryPaneHost {
public:
    virtual ~LibraryPaneHost() = default;
    // The document the window shows, or none.
    virtual Document* paneDocument() const = 0;
    // The window is about to show another document: true when it may. The
    // document stays open when a library row or another window still holds
    // it; otherwise it closes, and an edited one saves first or asks (the
    // writer may cancel, and then the window keeps it).
    virtual bool leaveDocument() = 0;
    // Shows document in the window (the window left its old one).
    virtual void showDocument(Document& document) = 0;
    // Shows a new untitled document in the window.
    virtual void showUntitledDocument() = 0;
    // The editor's place (selection and scroll position), to come back to.
    virtual QByteArray editorState() const = 0;
    // Puts the editor back at a place; empty state puts the caret at the start.
    virtual void restoreEditorState(const QByteArray& state) = 0;
    virtual void presentError(const PlatformError& error) = 0;
    // Prints the documents one after another.
    virtual void printDocuments(const std::vector<Document*>& documents) = 0;
};

// The library pane of a document window (the left side pane). It shows one
// library at a time: a header with the library popup, a search field and
// the sort button, a hairline, and the outline of the library's folders and
// documents; instead of the outline, a calm message with a way out when
// there is no library (add a folder) or when the shown library's folder
// cannot be read (remove it from the list).
//
// The pane owns its views and the parts that act on them, each about one
// thing, and wires them together:
// - LibraryChooser: which library it shows, and the popup following the
//   library list (the pane's LibrariesObserver); folders dropped on the pane
//   become libraries.
// - LibraryTreeLoader: reading the shown library's tree on another thread.
// - LibraryRows: the rows of the outline following the disk (the pane's
//   FileObserver), and the folders the writer opened.
// - LibrarySelection: the rows the commands act on, and the document's row.
// - LibrarySearchAndSort: the search field and the sort order.
// - LibraryDocumentOpener: choosing a document row opens it in the window.
// - LibraryFileCommands: the Library menu, also the outline's context menu
//   (new document or folder named in place, rename, Move to Trash, print,
//   show in the file manager), and files dropped on a folder.
// Two windows of one library each keep their own rows.
class LibraryViewController : public QWidget {
    Q_OBJECT

public:
    explicit LibraryViewController(QWidget* parent = nullptr);
    ~LibraryViewController() override;

    // The window; set once, before setUp.
    void setHost(LibraryPaneHost* host) { m_host = host; }
    LibraryPaneHost* host() const { return m_host; }
    // Joins the library list and shows the library of the window's
    // document (else the one chosen last, else the first).
    void setUp();
    // The window closes: leaves the library list and the shown library.
    void windowWillClose();

    // What a restored window brings back: a bookmark of the shown folder
    // ("rootFileBookmarkData"), or nothing without a shown tree. Restoring
    // shows that folder's library, opening it as an unlinked library when
    // the list does not hold it; a folder that cannot be found changes
    // nothing.
    QVariantMap restorableState() const;
    void restoreState(const QVariantMap& state);

    // The shown library (none: the "no library" message). Showing another
    // loads its tree (an error is presented) and restores its expansion and
    // its search. The sort order, the expanded folders and the shown
    // library ("selectedLibrary") are kept across launches.
    std::shared_ptr<Library> library() const { return m_library; }
    void setLibrary(const std::shared_ptr<Library>& library);
    // The shown library's tree is being read (on another thread).
    bool isLoadingTree() const;

    // Set by the window. The window's title strip stands over this pane, so
    // the window buttons are never drawn twice: the header only keeps its
    // place below the strip.
    bool titleBarIsAlwaysVisible = false;
    void updateWindowButtons();

    // The sidebar's colours from the current theme.
    void applyTheme();
    QSize sizeHint() const override;

    // Views.
    LibraryView* rootView() const { return m_rootView; }
    LibraryPaneHeader* header() const { return m_header; }
    LibraryOutlineView* fileView() const { return m_fileView; }
    LibraryOutlineModel& model() const { return *m_model; }
    QLineEdit* searchField() const;
    QComboBox* librariesPopup() const;
    QToolButton* sortButton() const;
    QMenu* sortMenu() const;
    QWidget* emptyView() const;
    QWidget* unavailableView() const;

    // Parts.
    LibraryChooser& chooser() const { return *m_chooser; }
    LibraryTreeLoader& loader() const { return *m_loader; }
    LibraryRows& rows() const { return *m_rows; }
    LibrarySelection& selection() const { return *m_selection; }
    LibrarySearchAndSort& search() const { return *m_search; }
    LibraryDocumentOpener& opener() const { return *m_opener; }
    LibraryFileCommands& fileCommands() const { return *m_fileCommands; }

    // For the parts: the window's document, the shown library's tree, and
    // the view that stands for the pane's state (the outline or a message).
    Document* document() const;
    FileController* fileController() const;
    void showState();
    // Presents an error with the window.
    void presentError(const PlatformError& error);

    // What the window asks of the pane.
    // The document at path in the library's own tree (not a search copy).
    RegularFile* regularFile(const QString& path) const;
    // Keeps the editor's place in a document of the library.
    void saveDocumentState(RegularFile& file);
    void makeLibraryDocument();
    void makeLibraryFolder();
    void moveDocumentToLibrary();
    void selectCurrentLibraryItem();
    // While its document is going to the Trash from this pane, the window
    // stays open when the document closes (it shows the next one).
    bool keepsWindowWhenDocumentCloses(const Document& document) const;

    // Where the "add a folder" button finds its folder (tests replace it).
    using FolderChooser = std::function<QString(QWidget* parent)>;
    static void setFolderChooser(FolderChooser chooser);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildViews();
    void addFolder();
    void summaryLinesDidChange();

    LibraryPaneHost* m_host = nullptr;
    // The window whose commands reach this pane.
    QPointer<QWidget> m_registeredWindow;
    std::shared_ptr<Library> m_library;

    LibraryView* m_rootView = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_content = nullptr;
    LibraryPaneHeader* m_header = nullptr;
    QWidget* m_separator = nullptr;
    QStackedWidget* m_body = nullptr;
    LibraryPaneMessages* m_messages = nullptr;
    LibraryOutlineModel* m_model = nullptr;
    FileRowDelegate* m_delegate = nullptr;
    LibraryOutlineView* m_fileView = nullptr;

    // The parts go before the views: nothing a view does as it goes reaches them.
    std::unique_ptr<LibraryRows> m_rows;
    std::unique_ptr<LibrarySelection> m_selection;
    std::unique_ptr<LibrarySearchAndSort> m_search;
    std::unique_ptr<LibraryTreeLoader> m_loader;
    std::unique_ptr<LibraryChooser> m_chooser;
    std::unique_ptr<LibraryDocumentOpener> m_opener;
    std::unique_ptr<LibraryFileCommands> m_fileCommands;
};

} // namespace lumora
