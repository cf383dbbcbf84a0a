#include "library/LibraryFileCommands.h"

#include "document/Document.h"
#include "library/FileController.h"
#include "library/LibraryChooser.h"
#include "library/LibraryDocumentOpener.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryRows.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/Menu.h"
#include "platform/application/Workspace.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Localization.h"
#include "settings/URLExtensions.h"

#include <QDir>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace lumora {

namespace {

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool isAtOrInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

LibraryFileCommands::LibraryFileCommands(LibraryViewController& pane) : m_pane(pane) {}

// New files, rename ---------------------------------------------------------------------------

Directory* LibraryFileCommands::targetFolderForNewFile() const
{
    FileController* controller = m_pane.fileController();
    if (!controller || !controller->rootFile()) return nullptr;
    const QModelIndexList rows = m_pane.selection().rowsToActOn();
    const File* file = rows.isEmpty() ? nullptr : m_pane.rows().fileAtRow(rows.first());
    if (!file) return controller->rootFile();
    // The library's own folder of the same path (a search shows copies).
    const QString folder = file->isDirectory() ? file->path() : folderOf(file->path());
    return dynamic_cast<Directory*>(controller->rootFile()->fileAtPath(folder));
}

void LibraryFileCommands::makeLibraryDocument()
{
    FileController* controller = m_pane.fileController();
    Directory* folder = targetFolderForNewFile();
    if (!controller || !folder) return;
    const QString path = folder->newDocumentURL();
    m_pane.search().clearSearch();
    QPointer<LibraryFileCommands> self(this);
    controller->operations().createDocument(path, std::nullopt,
                                            [self](const std::optional<PlatformError>& error, File* file) {
                                                if (self) self->newFileCreated(error, file);
                                            });
}

void LibraryFileCommands::makeLibraryFolder()
{
    FileController* controller = m_pane.fileController();
    Directory* folder = targetFolderForNewFile();
    if (!controller || !folder) return;
    const QString path = url::uniqueFileURL(joined(folder->path(), localized("library.new.directory")));
    m_pane.search().clearSearch();
    QPointer<LibraryFileCommands> self(this);
    controller->operations().createFolder(path, [self](const std::optional<PlatformError>& error, File* file) {
        if (self) self->newFileCreated(error, file);
    });
}

void LibraryFileCommands::newFileCreated(const std::optional<PlatformError>& error, File* file)
{
    if (error) {
        m_pane.presentError(*error);
        return;
    }
    const QModelIndex index = m_pane.rows().indexOfFile(file);
    if (!index.isValid()) return;
    m_pane.rows().expandAbove(index);
    if (auto* parent = file->parent(); parent && parent->parent()) {
        // The folder the writer sees opened is remembered open.
        if (!parent->expanded) {
            parent->expanded = true;
            if (const std::shared_ptr<Library> library = m_pane.library()) library->saveExpandedState();
        }
    }
    m_pane.fileView()->scrollTo(index);
    const QPersistentModelIndex row(index);
    QTimer::singleShot(newFileRenameDelay, this, [this, row] { startRenamingNewFile(row); });
}

void LibraryFileCommands::startRenamingNewFile(const QPersistentModelIndex& row)
{
    if (!row.isValid()) return;
    m_isRenamingNewFile = true;
    LibraryOutlineView* view = m_pane.fileView();
    view->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->setCurrentIndex(row);
    view->setFocus();
    view->edit(row);
}

void LibraryFileCommands::renameLibraryDocument()
{
    const QModelIndexList rows = m_pane.selection().rowsToActOn();
    if (rows.isEmpty()) return;
    LibraryOutlineView* view = m_pane.fileView();
    view->setFocus();
    view->setCurrentIndex(rows.first());
    view->edit(rows.first());
}

void LibraryFileCommands::approveRename(File& file, const QString& typedName)
{
    FileController* controller = m_pane.fileController();
    if (!controller) {
        m_isRenamingNewFile = false;
        return;
    }
    const bool newFile = std::exchange(m_isRenamingNewFile, false);
    if (typedName == file.filename()) {
        // Unchanged: nothing moves, and a new file is not opened.
        return;
    }
    const auto name = FileOperations::diskNameForTypedName(typedName);
    if (!name) {
        m_pane.presentError(name.error());
        return;
    }
    const QString from = file.path();
    const QString to = joined(folderOf(from), *name);
    QPointer<LibraryFileCommands> self(this);
    controller->operations().moveFile(from, to, [self, newFile](const std::optional<PlatformError>& error,
                                                                    File* moved) {
        if (!self) return;
        if (error) {
            self->m_pane.presentError(*error);
            return;
        }
        if (newFile && moved && !moved->isDirectory()) {
            self->m_pane.opener().selectAndOpenFile(moved);
            return;
        }
        // The renamed row stays the one the row commands act on, however
        // its row came to its new place (moved, or made anew when the
        // folder's watcher told of the rename first).
        QItemSelectionModel* selection = self->m_pane.fileView()->selectionModel();
        if (moved && selection && !selection->hasSelection()) self->m_pane.selection().selectFile(moved);
    });
}

// Trash ---------------------------------------------------------------------------------------

bool LibraryFileCommands::keepsWindowWhenDocumentCloses(const Document& document) const
{
    return m_trashingDocument && m_trashingDocument.data() == &document;
}

void LibraryFileCommands::removeSelectedFiles()
{
    FileController* controller = m_pane.fileController();
    const QModelIndexList rows = m_pane.selection().rowsToActOn();
    if (!controller || rows.isEmpty()) return;
    LibraryOutlineView* view = m_pane.fileView();
    LibraryRows& shownRows = m_pane.rows();
    // A name being edited in a row ends first.
    if (QWidget* focus = m_pane.window() ? m_pane.window()->focusWidget() : nullptr;
        focus && view->isAncestorOf(focus) && focus != view) {
        view->setFocus();
    }
    std::vector<File*> files = shownRows.filesAtRows(rows);
    // Where the selection goes when the window's document leaves: the
    // nearest document row below the trashed rows, else above them.
    QList<QPersistentModelIndex> candidates;
    {
        const auto going = [&files](const File* f) {
            return std::any_of(files.begin(), files.end(),
                               [f](const File* t) { return f == t || isAtOrInside(f->path(), t->path()); });
        };
        const auto stays = [&](const QModelIndex& row) {
            const File* f = shownRows.fileAtRow(row);
            return f && !f->isDirectory() && !going(f);
        };
        for (QModelIndex below = view->indexBelow(rows.last()); below.isValid(); below = view->indexBelow(below))
            if (stays(below)) {
                candidates << below;
                break;
            }
        for (QModelIndex above = view->indexAbove(rows.first()); above.isValid(); above = view->indexAbove(above))
            if (stays(above)) {
                candidates << above;
                break;
            }
    }

    // Open documents under the files save their edits first; a file whose
    // document cannot be saved stays where it is.
    Document* current = m_pane.document();
    std::vector<File*> trashing;
    bool currentGoes = false;
    for (File* file : files) {
        std::vector<Document*> open = File::documents({file});
        const QString path = file->path();
        if (current && !current->isUntitled() && isAtOrInside(current->filePath(), path)) {
            if (std::find(open.begin(), open.end(), current) == open.end()) open.push_back(current);
        }
        bool saved = true;
        for (Document* d : open) {
            if (!d->isDocumentEdited() || d->isUntitled()) continue;
            if (PlatformStatus status = d->save(); !status) {
                if (!status.error().isCancellation()) m_pane.presentError(status.error());
                saved = false;
                break;
            }
        }
        if (!saved) continue;
        if (current && !current->isUntitled() && isAtOrInside(current->filePath(), path)) currentGoes = true;
        trashing.push_back(file);
    }
    if (trashing.empty()) return;
    if (currentGoes) m_trashingDocument = current;
    // Nothing else to show in its place: the window keeps the document,
    // which follows its file into the Trash (and writes nothing at its old
    // path).
    const bool keepsShown = currentGoes && candidates.isEmpty();
    if (keepsShown) current->setStaysOpenWhenTrashed(true);
    m_pendingTrashes += int(trashing.size());

    QPointer<LibraryFileCommands> self(this);
    QPointer<Document> goingDocument = currentGoes ? current : nullptr;
    auto remaining = std::make_shared<int>(int(trashing.size()));
    controller->operations().trashFiles(trashing, [self, goingDocument, candidates, keepsShown, remaining](
                                                      const std::optional<PlatformError>& error) {
        if (--*remaining == 0 && goingDocument && keepsShown) {
            goingDocument->setStaysOpenWhenTrashed(false);
            // It stays in the window, a file in the Trash now, with no row.
            if (self && !goingDocument->isClosed()) self->m_pane.fileView()->selectionModel()->clearSelection();
        }
        if (!self) return;
        LibraryViewController& pane = self->m_pane;
        self->m_pendingTrashes = std::max(0, self->m_pendingTrashes - 1);
        if (error) pane.presentError(*error);
        const bool shownClosed = self->m_trashingDocument && (!goingDocument || goingDocument->isClosed());
        if (!error && shownClosed) {
            self->m_trashingDocument = nullptr;
            File* next = nullptr;
            for (const QPersistentModelIndex& candidate : candidates)
                if ((next = pane.rows().fileAtRow(candidate))) break;
            if (next) {
                pane.opener().selectAndOpenFile(next);
            } else if (pane.host()) {
                // Nothing left to show: a new page rather than a closed document.
                pane.fileView()->selectionModel()->clearSelection();
                pane.host()->showUntitledDocument();
            }
        }
        if (self->m_pendingTrashes == 0) self->m_trashingDocument = nullptr;
    });
}

// Print, reveal, move into the library ---------------------------------------------------------

void LibraryFileCommands::printSelectedFiles()
{
    const std::vector<File*> files = m_pane.rows().filesAtRows(m_pane.selection().rowsToActOn());
    if (files.empty()) return;
    // Every document under the rows, folders included, opened first.
    QStringList paths;
    for (File* file : files) paths << file->path();
    QStringList toOpen;
    for (File* file : files) {
        file->forEach([&](File& node) {
            if (auto* regular = dynamic_cast<RegularFile*>(&node); regular && !regular->document())
                toOpen << node.path();
        });
    }
    QPointer<LibraryFileCommands> self(this);
    auto print = [self, paths] {
        if (!self || !self->m_pane.host()) return;
        std::vector<File*> shown;
        for (const QString& path : paths)
            if (File* file = self->m_pane.rows().shownFileAt(path)) shown.push_back(file);
        const std::vector<Document*> documents = File::documents(shown);
        if (!documents.empty()) self->m_pane.host()->printDocuments(documents);
    };
    if (toOpen.isEmpty()) {
        print();
        return;
    }
    auto pending = std::make_shared<int>(int(toOpen.size()));
    for (const QString& path : toOpen) {
        Document::openLibraryFile(path, [self, path, pending, print](Document* opened,
                                                                     const std::optional<PlatformError>& error) {
            if (self && opened) self->m_pane.opener().bindDocument(path, opened);
            else if (self && error) self->m_pane.presentError(*error);
            if (--*pending == 0) print();
        });
    }
}

void LibraryFileCommands::revealInFileManager()
{
    const QModelIndexList rows = m_pane.selection().rowsToActOn();
    if (rows.isEmpty()) return;
    const File* file = m_pane.rows().fileAtRow(rows.first());
    if (!file) return;
    // Where no program could show it, the writer hears so, and where it is.
    QPointer<LibraryFileCommands> self(this);
    Workspace::revealFile(file->path(), [self, path = file->path()](bool shown) {
        if (shown || !self) return;
        self->m_pane.presentError(PlatformError(
            PlatformError::Code::generic,
            localizedFormat(QStringLiteral("library.reveal.error"), {NativePath::shownNameOf(path)}),
            localizedFormat(QStringLiteral("library.reveal.error.info"),
                            {QDir::toNativeSeparators(NativePath::shown(folderOf(path)))}),
            path));
    });
}

void LibraryFileCommands::moveDocumentToLibrary()
{
    FileController* controller = m_pane.fileController();
    const Document* d = m_pane.document();
    if (!controller || !controller->rootFile() || !d || d->isUntitled()) return;
    m_pane.chooser().selectCurrentLibraryItem();
    const QString from = d->filePath();
    const QString to = joined(controller->rootFile()->path(), lastComponent(from));
    QPointer<LibraryFileCommands> self(this);
    controller->operations().moveFile(from, to, [self](const std::optional<PlatformError>& error, File* moved) {
        if (!self) return;
        if (error) self->m_pane.presentError(*error);
        else self->m_pane.opener().selectAndOpenFile(moved);
    });
}

void LibraryFileCommands::moveDroppedFiles(const QStringList& paths, const QModelIndex& target)
{
    FileController* controller = m_pane.fileController();
    if (!controller || !controller->rootFile()) return;
    const File* folder = target.isValid() ? m_pane.rows().fileAtRow(target) : controller->rootFile();
    if (!folder || !folder->isDirectory()) return;
    const QString destination = folder->path();
    QPointer<LibraryFileCommands> self(this);
    for (const QString& path : paths) {
        const QString to = joined(destination, lastComponent(path));
        controller->operations().moveFile(path, to, [self](const std::optional<PlatformError>& error, File* moved) {
            if (!self) return;
            if (error) self->m_pane.presentError(*error);
            else self->m_pane.opener().selectAndOpenFile(moved);
        });
    }
}

// The menu ------------------------------------------------------------------------------------

void LibraryFileCommands::showContextMenu(const QModelIndex& clicked, const QPoint& globalPosition)
{
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    Menu* mainMenu = dispatcher.mainMenu();
    Menu* libraryMenu = nullptr;
    if (mainMenu)
        for (int i = 0; i < mainMenu->count() && !libraryMenu; ++i)
            if (Menu* submenu = mainMenu->itemAt(i)->submenu(); submenu && submenu->itemWithCommand(Command::removeLibraryDocument))
                libraryMenu = submenu;
    if (!libraryMenu) return;
    LibrarySelection& selection = m_pane.selection();
    selection.setClickedRow(clicked);
    libraryMenu->qMenu()->exec(globalPosition);
    // Commands chosen from the menu ran while it was open.
    selection.setClickedRow(QModelIndex());
}

bool LibraryFileCommands::isShowingLibrary() const
{
    // A hidden pane has no rows to act on.
    return m_pane.library() && m_pane.isVisible();
}

bool LibraryFileCommands::canActOnRows() const
{
    return isShowingLibrary() && !m_pane.selection().rowsToActOn().isEmpty();
}

bool LibraryFileCommands::canActOnOneRow() const
{
    return isShowingLibrary() && m_pane.selection().rowsToActOn().size() == 1;
}

bool LibraryFileCommands::canMakeFiles() const
{
    // A library whose tree is not shown (its folder gone, its disk away,
    // still being read) has no folder to make them in.
    return isShowingLibrary() && m_pane.fileController() && m_pane.fileController()->rootFile();
}

} // namespace lumora
