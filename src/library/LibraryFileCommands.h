#pragma once

#include "platform/foundation/PlatformError.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStringList>

#include <optional>

class QPoint;

namespace lumora {

class Directory;
class Document;
class File;
class LibraryViewController;

// The Library menu's file commands in the library pane, acting on the rows
// the writer chose (see LibrarySelection::rowsToActOn): new documents and
// folders, named in place; rename; Move to Trash; print; show in the file
// manager; and moving the window's document, or files dropped on a folder,
// into the library. The menu is also the outline's context menu, acting on
// the clicked row when it lies outside the selection.
//
// The disk work runs off the main thread in the library's FileController;
// errors are presented with the names as the rows show them.
class LibraryFileCommands : public QObject {
public:
    explicit LibraryFileCommands(LibraryViewController& pane);

    // New document or folder, beside or inside the acted-on row (else in
    // the top folder); its name opens for editing a moment later, and a
    // document named so opens in the window. A search ends first.
    void makeLibraryDocument();
    void makeLibraryFolder();
    // How long a new file waits before its name opens for editing.
    static constexpr int newFileRenameDelay = 300;
    // The name of a new file is being edited.
    bool isRenamingNewFile() const { return m_isRenamingNewFile; }
    // The edit of a new file's name was left without a name (Escape).
    void newFileNamingCancelled() { m_isRenamingNewFile = false; }

    // Opens the acted-on row's name for editing.
    void renameLibraryDocument();
    // The writer typed a row's name: the file is renamed, "/" kept as ":".
    void approveRename(File& file, const QString& typedName);

    // Moves the acted-on rows to the Trash. Open documents under them save
    // their edits first, and a file whose document cannot be saved stays;
    // when the window's document goes, the window shows the nearest
    // document row below (else above), or a new page, and keeps the
    // document, which follows its file into the Trash, when there is no
    // other row.
    void removeSelectedFiles();
    // While its document is going to the Trash from this pane, the window
    // stays open when the document closes (it shows the next one).
    bool keepsWindowWhenDocumentCloses(const Document& document) const;

    // Prints every document under the acted-on rows, folders included.
    void printSelectedFiles();
    void revealInFileManager();
    // Moves the window's document into the top folder of the library.
    void moveDocumentToLibrary();
    // Files dropped on the outline move into the folder of target (invalid:
    // the top folder), and each opens.
    void moveDroppedFiles(const QStringList& paths, const QModelIndex& target);

    // The Library menu, opened on a row of the outline.
    void showContextMenu(const QModelIndex& clicked, const QPoint& globalPosition);

    // Whether the commands can act now: only while the pane shows a library
    // (a hidden pane has no rows to act on); Move to Trash and Print on at
    // least one row, Show in File Manager and Rename on exactly one, and the
    // new document and folder commands where there is a folder to make them in.
    bool isShowingLibrary() const;
    bool canActOnRows() const;
    bool canActOnOneRow() const;
    bool canMakeFiles() const;

private:
    Directory* targetFolderForNewFile() const;
    void newFileCreated(const std::optional<PlatformError>& error, File* file);
    void startRenamingNewFile(const QPersistentModelIndex& row);

    LibraryViewController& m_pane;
    bool m_isRenamingNewFile = false;
    // The window's document, while it goes to the Trash from here.
    QPointer<Document> m_trashingDocument;
    int m_pendingTrashes = 0;
};

} // namespace lumora
