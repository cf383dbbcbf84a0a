#pragma once

#include <QAbstractItemModel>
#include <QHash>

#include <functional>
#include <memory>
#include <vector>

namespace lumora {

class Outline;

// The rows of the outline pane: a snapshot of the heading tree whose items
// are the headings' own Outline entries. update() brings the snapshot to a
// freshly built tree by identity of the entries: rows whose entry stayed
// under the same parent are kept (a changed title or level only repaints
// them), the rest are removed and added, so that the view keeps its
// expanded rows, its selection and its scroll position, and a keystroke
// costs work in proportion to what changed.
//
// A heading typed or taken away in a long text need not build the tree at
// all: insert() and remove() nest one heading in or out the way a fresh
// tree would (the headings after it that it takes under it, or that its own
// rows go to), row by row, and keep the entries' contents the same.
//
// A row without rows under it says so (Qt::ItemNeverHasChildren): a tree
// view then keeps no state for it, which spares every row change in a long
// outline a walk over thousands of rows' expanded states.
class OutlineModel : public QAbstractItemModel {
public:
    // The heading's level (1 to 6) under this role; its title under
    // Qt::DisplayRole.
    static constexpr int levelRole = Qt::UserRole + 1;
    // Called for every row that came in and for every row that got its
    // first rows, parents first, once the rows exist: the view opens or
    // closes it as its heading remembers.
    using Opened = std::function<void(const QModelIndex&)>;

    explicit OutlineModel(QObject* parent = nullptr);
    ~OutlineModel() override;

    // Makes the rows those of root's tree.
    void update(const std::shared_ptr<Outline>& root, const Opened& opened = {});

    // The one thing an edit inside a heading's line changes: its title. The
    // row shows the entry's title again; false when the entry has no row or
    // its level changed (the tree must then be built again).
    bool retitle(const Outline* entry);
    // A heading came into the text right after previous (the heading before
    // it in the text; nullptr when it is the first): it takes its place in
    // the tree and the headings after it that nest under it. False, with
    // nothing changed, when previous has no row or entry already has one.
    bool insert(const std::shared_ptr<Outline>& entry, const Outline* previous, const Opened& opened = {});
    // A heading left the text: its rows go to the headings before it they
    // now nest under, and its own row goes. False when it has no row.
    bool remove(const Outline* entry, const Opened& opened = {});

    std::shared_ptr<Outline> entry(const QModelIndex& index) const;
    // The row of an entry, or an invalid index when it has none.
    QModelIndex indexOf(const Outline* entry) const;
    // Rows added and removed so far (each row of a subtree counts).
    int rowChanges() const { return m_rowChanges; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // One row and the rows under it (internal).
    struct Node;

private:
    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node) const;
    std::unique_ptr<Node> makeNode(const std::shared_ptr<Outline>& entry, Node* parent, int row);
    void forget(const Node& node);
    void sync(Node& node, const Opened& opened);
    void announceAdded(const Node& node, const Opened& opened);
    // Moves rows first to last of from under another row, to: before its
    // row at, or after its last one; their entries go with them.
    void moveRows(Node& from, int first, int last, Node& to, int at = -1);

    std::unique_ptr<Node> m_root;
    QHash<const Outline*, Node*> m_nodes;
    int m_rowChanges = 0;
};

} // namespace lumora
