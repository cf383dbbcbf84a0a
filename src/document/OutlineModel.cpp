#include "document/OutlineModel.h"

#include "markdown/Outline.h"

namespace lumora {

struct OutlineModel::Node {
    std::shared_ptr<Outline> entry;
    Node* parent = nullptr;
    int row = 0;
    // As the row shows them.
    QString title;
    int level = 0;
    std::vector<std::unique_ptr<Node>> children;
};

namespace {

int subtreeSize(const std::vector<std::unique_ptr<OutlineModel::Node>>& nodes, size_t from, size_t to);

void renumber(std::vector<std::unique_ptr<OutlineModel::Node>>& children, size_t from)
{
    for (size_t i = from; i < children.size(); ++i) children[i]->row = int(i);
}

} // namespace

OutlineModel::OutlineModel(QObject* parent) : QAbstractItemModel(parent), m_root(std::make_unique<Node>()) {}

OutlineModel::~OutlineModel() = default;

std::unique_ptr<OutlineModel::Node> OutlineModel::makeNode(const std::shared_ptr<Outline>& entry, Node* parent, int row)
{
    auto node = std::make_unique<Node>();
    node->entry = entry;
    node->parent = parent;
    node->row = row;
    node->title = entry->title;
    node->level = entry->level;
    m_nodes.insert(entry.get(), node.get());
    node->children.reserve(entry->contents.size());
    for (size_t i = 0; i < entry->contents.size(); ++i)
        node->children.push_back(makeNode(entry->contents[i], node.get(), int(i)));
    return node;
}

// A row that goes: its entry may already have a new row elsewhere (a
// heading that moved to another parent), which stays.
void OutlineModel::forget(const Node& node)
{
    const auto it = m_nodes.constFind(node.entry.get());
    if (it != m_nodes.constEnd() && it.value() == &node) m_nodes.erase(it);
    for (const auto& child : node.children) forget(*child);
}

void OutlineModel::update(const std::shared_ptr<Outline>& root, const std::function<void(const QModelIndex&)>& added)
{
    m_root->entry = root;
    if (root) sync(*m_root, added);
}

void OutlineModel::sync(Node& node, const std::function<void(const QModelIndex&)>& added)
{
    static const std::vector<std::shared_ptr<Outline>> none;
    const auto& wanted = node.entry ? node.entry->contents : none;
    auto& have = node.children;

    // What stays in place: the rows at both ends whose entries are the same.
    size_t prefix = 0;
    while (prefix < have.size() && prefix < wanted.size() && have[prefix]->entry == wanted[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < have.size() - prefix && suffix < wanted.size() - prefix
           && have[have.size() - 1 - suffix]->entry == wanted[wanted.size() - 1 - suffix])
        ++suffix;

    const QModelIndex parentIndex = indexOf(&node);
    if (have.size() - suffix > prefix) {
        const size_t last = have.size() - suffix - 1;
        beginRemoveRows(parentIndex, int(prefix), int(last));
        m_rowChanges += subtreeSize(have, prefix, last + 1);
        for (size_t i = prefix; i <= last; ++i) forget(*have[i]);
        have.erase(have.begin() + qsizetype(prefix), have.begin() + qsizetype(last) + 1);
        renumber(have, prefix);
        endRemoveRows();
    }
    if (wanted.size() - suffix > prefix) {
        const size_t last = wanted.size() - suffix - 1;
        beginInsertRows(parentIndex, int(prefix), int(last));
        std::vector<std::unique_ptr<Node>> made;
        for (size_t i = prefix; i <= last; ++i) made.push_back(makeNode(wanted[i], &node, int(i)));
        have.insert(have.begin() + qsizetype(prefix), std::make_move_iterator(made.begin()),
                    std::make_move_iterator(made.end()));
        renumber(have, prefix);
        m_rowChanges += subtreeSize(have, prefix, last + 1);
        endInsertRows();
        if (added)
            for (size_t i = prefix; i <= last; ++i) announceAdded(*have[i], added);
    }

    const size_t keptEnd = have.size() - suffix;
    for (size_t i = 0; i < have.size(); ++i) {
        if (i >= prefix && i < keptEnd) continue; // just added
        Node& child = *have[i];
        if (child.title != child.entry->title || child.level != child.entry->level) {
            child.title = child.entry->title;
            child.level = child.entry->level;
            const QModelIndex index = createIndex(child.row, 0, &child);
            emit dataChanged(index, index);
        }
        sync(child, added);
    }
}

void OutlineModel::announceAdded(const Node& node, const std::function<void(const QModelIndex&)>& added)
{
    added(indexOf(&node));
    for (const auto& child : node.children) announceAdded(*child, added);
}

std::shared_ptr<Outline> OutlineModel::entry(const QModelIndex& index) const
{
    const Node* node = nodeOf(index);
    return node && node != m_root.get() ? node->entry : nullptr;
}

bool OutlineModel::retitle(const Outline* entry)
{
    Node* node = m_nodes.value(entry);
    if (!node || node->level != entry->level) return false;
    if (node->title != entry->title) {
        node->title = entry->title;
        const QModelIndex index = indexOf(node);
        emit dataChanged(index, index);
    }
    return true;
}

QModelIndex OutlineModel::indexOf(const Outline* entry) const
{
    const Node* node = m_nodes.value(entry);
    return node ? indexOf(node) : QModelIndex();
}

QModelIndex OutlineModel::indexOf(const Node* node) const
{
    if (!node || node == m_root.get()) return {};
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

OutlineModel::Node* OutlineModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_root.get();
}

QModelIndex OutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    if (column != 0 || row < 0 || size_t(row) >= node->children.size()) return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex OutlineModel::parent(const QModelIndex& index) const
{
    const Node* node = index.isValid() ? nodeOf(index) : nullptr;
    return node ? indexOf(node->parent) : QModelIndex();
}

int OutlineModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    return int(nodeOf(parent)->children.size());
}

int OutlineModel::columnCount(const QModelIndex&) const { return 1; }

QVariant OutlineModel::data(const QModelIndex& index, int role) const
{
    const Node* node = index.isValid() ? nodeOf(index) : nullptr;
    if (!node) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return node->title;
    if (role == levelRole) return node->level;
    return {};
}

Qt::ItemFlags OutlineModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

namespace {

int subtreeSize(const std::vector<std::unique_ptr<OutlineModel::Node>>& nodes, size_t from, size_t to)
{
    int count = 0;
    for (size_t i = from; i < to; ++i) count += 1 + subtreeSize(nodes[i]->children, 0, nodes[i]->children.size());
    return count;
}

} // namespace

} // namespace lumora
