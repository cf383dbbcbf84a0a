#pragma once

#include "library/File.h"
#include "library/FileController.h"
#include "library/LibraryController.h"
#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace lumora {

class Document;
class FileRowDelegate;
class LibraryOutlineModel;
class LibraryOutlineView;
class LibraryPopup;
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
// - Choosing a document row opens it in this window (after the window's
//   current document agreed to go, see LibraryPaneHost::leaveDocument);
//   every way of switching documents goes the same road, and a refusal puts
//   the selection back on the window's document. Each document's place in
//   the editor is kept per library.
// - Search filters the tree as the writer types; Enter opens the first
//   document found. The sort order, the expanded folders and the shown
//   library ("selectedLibrary") are kept across launches.
// - The Library menu acts here (new document or folder named in place,
//   rename, Move to Trash, print, show in the file manager); it is also the
//   outline's context menu, acting on the clicked row when it lies outside
//   the selection.
// - Drag and drop: rows drag out as file URLs; files dropped on a folder are
//   moved there (also from a file manager); folders dropped anywhere else on
//   the pane become libraries.
//
// It is the view of its library's FileController (FileObserver: rows
// follow every change on disk, the selection stays on its file) and of the
// library list (LibrariesObserver: the popup follows the list). Two windows
// of one library each keep their own rows.
class LibraryViewController : public QWidget, public FileObserver, public LibrariesObserver {
    Q_OBJECT

public:
    explicit LibraryViewController(QWidget* parent = nullptr);
    ~LibraryViewController() override;

    // The window; set once, before setUp.
    void setHost(LibraryPaneHost* host) { m_host = host; }
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
    // loads its tree (an error is presented) and restores its expansion.
    std::shared_ptr<Library> library() const { return m_library; }
    void setLibrary(const std::shared_ptr<Library>& library);
    // The shown library's tree is being read (on another thread).
    bool isLoadingTree() const { return m_loadingTree; }

    // Set by the window. The window's title strip stands over this pane, so
    // the window buttons are never drawn twice: the header only keeps its
    // place below the strip.
    bool titleBarIsAlwaysVisible = false;
    void updateWindowButtons();

    // The sidebar's colours from the current theme.
    void applyTheme();
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

public:

    // Views (tests and the window).
    LibraryOutlineView* fileView() const { return m_fileView; }
    LibraryOutlineModel& model() const { return *m_model; }
    QLineEdit* searchField() const { return m_searchField; }
    QComboBox* librariesPopup() const;
    QToolButton* sortButton() const { return m_sortButton; }
    QMenu* sortMenu() const { return m_sortMenu; }
    QWidget* emptyView() const { return m_emptyView; }
    QWidget* unavailableView() const { return m_unavailableView; }
    QWidget* header() const { return m_header; }
    LibraryView* rootView() const { return m_rootView; }

    // Lookups.
    Document* document() const;
    // The document row of the window's document in the library's tree.
    RegularFile* documentFile() const;
    // The document at path in the library's own tree (not a search copy).
    RegularFile* regularFile(const QString& path) const;
    File* fileAtRow(const QModelIndex& row) const;
    std::vector<File*> filesAtRows(const QModelIndexList& rows) const;
    // The rows a command acts on: the clicked row (context menu) when it
    // lies outside the selection, else the selected rows, in outline order.
    QModelIndexList rowsToActOn() const;
    // The row of a file of the shown tree (the search copy of a library file
    // counts as that file); invalid when it is not shown.
    QModelIndex indexOfFile(const File* file);

    // Selection, search and sort.
    void openLibraryAt(int popupIndex);
    void selectCurrentLibraryItem();
    void setFilter(const QString& text);
    QString filterText() const { return m_filter; }
    void applyFilter();
    void searchFieldAction();
    void chooseSortKey(Library::SortKey key);
    void restoreExpansion(Directory& folder);

    // Opening and switching.
    void openSelectedFile();
    void openFileAtActedRow();
    void selectAndOpenFile(File* file);
    // Selects a file's row alone (none clears the selection), scrolled into
    // view, without opening it.
    void selectFile(File* file);
    void saveDocumentState(RegularFile& file);
    void restoreDocumentState(RegularFile& file);
    void moveDocumentToLibrary();

    // File commands.
    void makeLibraryDocument();
    void makeLibraryFolder();
    void renameLibraryDocument();
    void approveRename(File& file, const QString& typedName);
    void removeSelectedFiles();
    void printSelectedFiles();
    void revealInFileManager();
    bool isRenamingNewFile() const { return m_isRenamingNewFile; }
    // How long a new file waits before its name opens for editing.
    static constexpr int newFileRenameDelay = 300;

    // Drag and drop.
    void acceptFileDrop(const QStringList& paths, const QModelIndex& target);
    void addDroppedLibraries(const QStringList& folders);
    // The shown library's folder is gone: it leaves the list.
    void removeShownLibrary();

    // While its document is going to the Trash from this pane, the window
    // stays open when the document closes (it shows the next one).
    bool keepsWindowWhenDocumentCloses(const Document& document) const;

    // Where the "add a folder" button finds its folder (tests replace it).
    using FolderChooser = std::function<QString(QWidget* parent)>;
    static void setFolderChooser(FolderChooser chooser);

    // Whether the file commands can act now: Open while the file list has
    // the focus; the others only while the pane shows a library (a hidden
    // pane has no rows to act on), Move to Trash and Print on at least one
    // row, Show in File Manager and Rename on exactly one, and the new
    // document and folder commands where there is a folder to make them in.
    bool isShowingLibrary() const;
    bool canOpenSelectedFile() const;
    bool canActOnRows() const;
    bool canActOnOneRow() const;
    bool canMakeFiles() const;

    // FileObserver
    QString filter() const override { return m_filter; }
    Directory* filteredRootFile() const override { return m_filteredRootFile; }
    void willInsertRow(Directory& parent, int index) override;
    void didInsertRow(Directory& parent, int index) override;
    void willRemoveRow(Directory& parent, int index) override;
    void didRemoveRow(Directory& parent, int index) override;
    void willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex) override;
    void didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex) override;
    void fileDidChange(File& file) override;
    void sortKeyWillChange() override;
    void sortKeyChanged() override;

    // LibrariesObserver
    void libraryInserted(int index) override;
    void libraryMoved(int from, int to) override;
    void libraryRemoved(int index) override;
    void libraryTitleChanged(int index) override;
    void libraryAvailabilityChanged(int index) override;

private:
    void buildViews();
    void rebuildLibrariesPopup();
    void showState();
    // Loads the shown library's tree (when no sidebar holds it) and shows it.
    void showLibrary(bool presentErrors);
    void showLoadedLibrary();
    void updateLoadingView();
    void updateLoadingLabels();
    void rememberSearch(const Library& library);
    QString rememberedSearch(const Library& library) const;
    void leaveFileController();
    void setShownRoot(Directory* root, std::unique_ptr<Directory> copy);
    void restoreExpansion(Directory& folder, const QModelIndex& index);
    void selectDocumentRowIfNone();
    void updateSortButton();
    void summaryLinesDidChange();
    void newFileCreated(const std::optional<PlatformError>& error, File* file);
    void startRenamingNewFile(const QPersistentModelIndex& row);
    void showContextMenu(const QModelIndex& clicked, const QPoint& globalPosition);
    void userExpanded(const QModelIndex& index, bool expanded);
    void switchWindowToFile(const QString& path);
    void openDocumentAt(const QString& path);
    void bindDocument(const QString& path, Document* document);
    File* shownFileAt(const QString& path) const;
    Directory* targetFolderForNewFile() const;
    void clearSearch();
    // Names in the error as the rows show them (the paths the error may name
    // besides its own).
    void presentError(const PlatformError& error, const QStringList& paths = {});
    static PlatformError withShownNames(PlatformError error, QStringList paths);
    FileController* fileController() const;

    LibraryPaneHost* m_host = nullptr;
    // The window whose commands reach this pane.
    QPointer<QWidget> m_registeredWindow;
    std::shared_ptr<Library> m_library;
    // The controller this pane observes (kept alive while it does).
    std::shared_ptr<FileController> m_observed;
    QString m_filter;
    Directory* m_filteredRootFile = nullptr;
    std::unique_ptr<Directory> m_filteredCopy;

    LibraryView* m_rootView = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_content = nullptr;
    QWidget* m_header = nullptr;
    QWidget* m_separator = nullptr;
    QStackedWidget* m_body = nullptr;
    LibraryPopup* m_librariesPopup = nullptr;
    QLineEdit* m_searchField = nullptr;
    QToolButton* m_sortButton = nullptr;
    QMenu* m_sortMenu = nullptr;
    QWidget* m_emptyView = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_addFolderButton = nullptr;
    QWidget* m_unavailableView = nullptr;
    QLabel* m_unavailableLabel = nullptr;
    QLabel* m_unavailableIcon = nullptr;
    QPushButton* m_removeLibraryButton = nullptr;
    QWidget* m_loadingView = nullptr;
    QLabel* m_loadingLabel = nullptr;
    QLabel* m_loadingCount = nullptr;
    QProgressBar* m_loadingBar = nullptr;
    QWidget* m_nothingFoundView = nullptr;
    QLabel* m_nothingFoundLabel = nullptr;
    LibraryOutlineModel* m_model = nullptr;
    FileRowDelegate* m_delegate = nullptr;
    LibraryOutlineView* m_fileView = nullptr;

    // The tree being read for the shown library, and since when.
    bool m_loadingTree = false;
    quint64 m_loadTicket = 0;
    QElapsedTimer m_loadingShownAt;
    QTimer m_loadingProgress;
    // The search of each library this pane showed (the shown one's is m_filter).
    std::vector<std::pair<std::weak_ptr<Library>, QString>> m_searches;

    QPersistentModelIndex m_clickedRow;
    bool m_isRenamingNewFile = false;
    bool m_restoringExpansion = false;
    bool m_joinedList = false;
    // The window's document, while it goes to the Trash from here.
    QPointer<Document> m_trashingDocument;
    int m_pendingTrashes = 0;
};

} // namespace lumora
