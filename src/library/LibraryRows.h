#pragma once

#include "library/FileController.h"

#include <QModelIndex>
#include <QObject>

#include <memory>
#include <vector>

namespace lumora {

class LibraryOutlineModel;
class LibraryOutlineView;
class LibraryViewController;

// The rows of the library pane's outline: the tree they show (the shown
// library's own, or a search's copy of it, which the rows hold), where each
// file's row is, and which folders are open.
//
// It is the pane's view of its library's FileController: every change of
// the tree on disk reaches the outline's model as it happens, so that rows
// keep their place, their selection and their open folders. Two panes of
// one library each have their rows.
//
// Folders stay open or closed as the writer left them: the library keeps
// its own tree's folders across launches; a search's copies come and go.
class LibraryRows : public QObject, public FileObserver {
public:
    LibraryRows(LibraryViewController& pane, LibraryOutlineModel& model, LibraryOutlineView& view);

    // Shows root (none: no rows); copy, when given, is the search's copy
    // that root stands in, held until the next root.
    void setShownRoot(Directory* root, std::unique_ptr<Directory> copy);

    // Lookups.
    File* fileAtRow(const QModelIndex& row) const;
    std::vector<File*> filesAtRows(const QModelIndexList& rows) const;
    // The file at path in the shown tree (a search's copy during a search).
    File* shownFileAt(const QString& path) const;
    // The document at path in the library's own tree (not a search copy).
    RegularFile* regularFile(const QString& path) const;
    // The document row of the window's document in the library's tree.
    RegularFile* documentFile() const;
    // The row of a file of the shown tree (the search copy of a library file
    // counts as that file); invalid when it is not shown.
    QModelIndex indexOfFile(const File* file);

    // Opens the folders of a tree that were open, below folder.
    void restoreExpansion(Directory& folder);
    // Opens the folders above a row to show it: no choice of the writer's,
    // so nothing is remembered.
    void expandAbove(const QModelIndex& index);

    // FileObserver
    QString filter() const override;
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

private:
    void restoreExpansion(Directory& folder, const QModelIndex& index);
    // The writer opened or closed a folder.
    void userExpanded(const QModelIndex& index, bool expanded);

    LibraryViewController& m_pane;
    LibraryOutlineModel& m_model;
    LibraryOutlineView& m_view;
    Directory* m_filteredRootFile = nullptr;
    std::unique_ptr<Directory> m_filteredCopy;
    bool m_restoringExpansion = false;
};

} // namespace lumora
