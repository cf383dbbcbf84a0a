#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class Directory;
class File;

// The rows of a library outline: the folders and documents of the tree a
// sidebar shows (the library's own tree, or the copy a search made), as a Qt
// item model of one column. The shown root is not a row: its children are
// the top-level rows.
//
// The library's FileController changes the tree first and tells its views
// around each change (FileObserver's will/did pairs), while Qt wants to hear
// of a change before the rows change and to find the new rows right after.
// So the model keeps its own copy of every shown folder's child list (a node
// per row, made the first time the folder is asked for its rows) and changes
// that copy only between its begin and end calls. A node that leaves keeps
// living a little while without its file, so that an index that outlived
// its row finds nothing instead of a destroyed file. Every row number it is
// told is checked against its copy; when the two ever disagree it shows the
// tree afresh (a reset) rather than hand Qt a row that is not there.
//
// Main thread only.
class LibraryOutlineModel : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit LibraryOutlineModel(QObject* parent = nullptr);
    ~LibraryOutlineModel() override;

    // Shows the tree under root (none shows no rows). The files of the old
    // tree that were on screen are told they are not any more; the old tree
    // must still exist when this is called.
    void setRoot(Directory* root);
    Directory* root() const { return m_rootFile; }

    // The file of a row; none for an index that outlived its row.
    File* fileAt(const QModelIndex& index) const;
    // The row of a file of the shown tree (its folders get rows on the way);
    // invalid for the root or a file the shown tree does not hold.
    QModelIndex indexOf(const File* file);

    // The rows on screen now. Files that come on screen are shown (a stale
    // document reads its summary), those that left are told so.
    void setRowsOnScreen(const QModelIndexList& rows);
    bool isOnScreen(const File* file) const;

    // Renaming a row: the text the writer committed (the disk is changed by
    // whoever handles it).
    std::function<void(File& file, const QString& typedName)> renameHandler;

    // From the file controller.
    void willInsertRow(Directory& parent, int index);
    void didInsertRow(Directory& parent, int index);
    void willRemoveRow(Directory& parent, int index);
    void didRemoveRow(Directory& parent, int index);
    void willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex);
    void didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex);
    void fileDidChange(File& file);
    void sortWillChange();
    void sortDidChange();

    // Repaints every row (the summary lines or the theme changed).
    void refreshAllRows();

    // How many times the rows disagreed with the tree and were shown afresh.
    int resyncCount() const { return m_resyncs; }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;

    // Data roles beyond Qt's: whether the row is a folder.
    static constexpr int isFolderRole = Qt::UserRole + 1;

private:
    struct Node {
        File* file = nullptr; // none once the node left the tree
        Node* parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
        int row = 0;
        bool populated = false;
    };
    // What a will... call began, for its did... call to finish.
    enum class Pending { none, insert, remove, move, resync };

    Node* nodeOf(const QModelIndex& index) const;
    Node* nodeFor(const Directory& folder) const;
    Node* shownNodeFor(const Directory& folder) const;
    QModelIndex indexOfNode(const Node* node) const;
    void populate(Node& node) const;
    std::unique_ptr<Node> makeNode(File* file, Node* parent) const;
    static void renumber(Node& node, size_t from);
    void retire(std::unique_ptr<Node> node);
    void forget(Node& node);
    bool matches(const Node& node, const Directory& folder) const;
    bool reorder(Node& node);
    void resync();

    Directory* m_rootFile = nullptr;
    std::unique_ptr<Node> m_root;
    mutable QHash<const File*, Node*> m_nodes;
    QSet<const Node*> m_onScreen;
    std::vector<std::unique_ptr<Node>> m_retired;
    QTimer m_releaseRetired;
    Pending m_pending = Pending::none;
    // A move Qt sees as a removal or an insertion (one end is not shown).
    Node* m_pendingFrom = nullptr;
    Node* m_pendingTo = nullptr;
    int m_resyncs = 0;
};

} // namespace lumora
