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
class OutlineModel : public QAbstractItemModel {
public:
    // The heading's level (1 to 6) under this role; its title under
    // Qt::DisplayRole.
    static constexpr int levelRole = Qt::UserRole + 1;

    explicit OutlineModel(QObject* parent = nullptr);
    ~OutlineModel() override;

    // Makes the rows those of root's tree. added is called for every row
    // that came in, parents first, once the rows exist.
    void update(const std::shared_ptr<Outline>& root, const std::function<void(const QModelIndex&)>& added = {});

    // The one thing an edit inside a heading's line changes: its title. The
    // row shows the entry's title again; false when the entry has no row or
    // its level changed (the tree must then be built again).
    bool retitle(const Outline* entry);

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
    void sync(Node& node, const std::function<void(const QModelIndex&)>& added);
    void announceAdded(const Node& node, const std::function<void(const QModelIndex&)>& added);

    std::unique_ptr<Node> m_root;
    QHash<const Outline*, Node*> m_nodes;
    int m_rowChanges = 0;
};

} // namespace lumora
