#include "document/OutlineModel.h"

#include "markdown/Outline.h"

#include <algorithm>

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

void OutlineModel::update(const std::shared_ptr<Outline>& root, const Opened& opened)
{
    m_root->entry = root;
    if (root) sync(*m_root, opened);
}

void OutlineModel::sync(Node& node, const Opened& opened)
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
    const bool hadRows = !have.empty();
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
        if (opened) {
            if (!hadRows && &node != m_root.get()) opened(parentIndex);
            for (size_t i = prefix; i <= last; ++i) announceAdded(*have[i], opened);
        }
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
        sync(child, opened);
    }
}

void OutlineModel::announceAdded(const Node& node, const Opened& opened)
{
    opened(indexOf(&node));
    for (const auto& child : node.children) announceAdded(*child, opened);
}

void OutlineModel::moveRows(Node& from, int first, int last, Node& to, int at)
{
    Q_ASSERT(&from != &to);
    if (first > last) return;
    const int into = at < 0 ? int(to.children.size()) : at;
    beginMoveRows(indexOf(&from), first, last, indexOf(&to), into);
    auto& rows = from.children;
    auto& entries = from.entry->contents;
    std::vector<std::unique_ptr<Node>> moving(std::make_move_iterator(rows.begin() + first),
                                              std::make_move_iterator(rows.begin() + last + 1));
    rows.erase(rows.begin() + first, rows.begin() + last + 1);
    entries.erase(entries.begin() + first, entries.begin() + last + 1);
    renumber(rows, size_t(first));
    std::vector<std::shared_ptr<Outline>> movingEntries;
    for (const auto& node : moving) {
        node->parent = &to;
        movingEntries.push_back(node->entry);
    }
    to.entry->contents.insert(to.entry->contents.begin() + into, movingEntries.begin(), movingEntries.end());
    to.children.insert(to.children.begin() + into, std::make_move_iterator(moving.begin()),
                       std::make_move_iterator(moving.end()));
    renumber(to.children, size_t(into));
    m_rowChanges += subtreeSize(to.children, size_t(into), size_t(into + last - first + 1));
    endMoveRows();
}

bool OutlineModel::insert(const std::shared_ptr<Outline>& entry, const Outline* previous, const Opened& opened)
{
    if (!entry || !m_root->entry || m_nodes.contains(entry.get())) return false;
    Node* before = previous ? m_nodes.value(previous) : m_root.get();
    if (!before) return false;
    // The rows from the root down to the heading before it in the text.
    std::vector<Node*> chain;
    for (Node* n = before; n; n = n->parent) chain.push_back(n);
    std::reverse(chain.begin(), chain.end());
    // It nests under the nearest heading before it of a lower level: the
    // deepest of those rows with one.
    const int level = entry->level;
    size_t k = chain.size() - 1;
    while (k > 0 && chain[k]->level >= level) --k;
    Node& parent = *chain[k];
    const int row = k + 1 < chain.size() ? chain[k + 1]->row + 1 : 0;

    entry->contents.clear();
    const bool parentHadRows = !parent.children.empty();
    beginInsertRows(indexOf(&parent), row, row);
    auto made = std::make_unique<Node>();
    made->entry = entry;
    made->parent = &parent;
    made->title = entry->title;
    made->level = level;
    Node& node = *made;
    m_nodes.insert(entry.get(), &node);
    parent.children.insert(parent.children.begin() + row, std::move(made));
    parent.entry->contents.insert(parent.entry->contents.begin() + row, entry);
    renumber(parent.children, size_t(row));
    ++m_rowChanges;
    endInsertRows();

    // What follows it in the text and nests deeper now nests under it: the
    // rows after the heading before it, under each row of the chain deeper
    // than its parent (deepest first: that is text order), then the rows of
    // its parent after it, up to one of its own level or a lower one.
    for (size_t i = chain.size() - 1; i > k; --i) {
        Node& x = *chain[i];
        const int first = i + 1 < chain.size() ? chain[i + 1]->row + 1 : 0;
        moveRows(x, first, int(x.children.size()) - 1, node);
    }
    int last = node.row;
    while (last + 1 < int(parent.children.size()) && parent.children[size_t(last) + 1]->level > level) ++last;
    moveRows(parent, node.row + 1, last, node);
    if (opened && !parentHadRows && &parent != m_root.get()) opened(indexOf(&parent));
    if (opened && !node.children.empty()) opened(indexOf(&node));
    return true;
}

bool OutlineModel::remove(const Outline* entry, const Opened& opened)
{
    Node* gone = m_nodes.value(entry);
    if (!gone || gone == m_root.get() || !gone->parent) return false;
    Node& parent = *gone->parent;
    // Each of its rows nests under the nearest heading before it of a lower
    // level: the deepest such row on the way down the last rows of the row
    // before it (its own parent when there is none).
    while (!gone->children.empty()) {
        const int level = gone->children.front()->level;
        Node* target = &parent;
        if (gone->row > 0)
            for (Node* n = parent.children[size_t(gone->row) - 1].get(); n && n->level < level;
                 n = n->children.empty() ? nullptr : n->children.back().get())
                target = n;
        const bool first = target != &parent && target->children.empty();
        moveRows(*gone, 0, 0, *target, target == &parent ? gone->row : -1);
        if (first && opened) opened(indexOf(target));
    }
    const int row = gone->row;
    beginRemoveRows(indexOf(&parent), row, row);
    forget(*gone);
    parent.children.erase(parent.children.begin() + row);
    parent.entry->contents.erase(parent.entry->contents.begin() + row);
    renumber(parent.children, size_t(row));
    ++m_rowChanges;
    endRemoveRows();
    return true;
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
    const Node* node = index.isValid() ? nodeOf(index) : nullptr;
    if (!node) return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return node->children.empty() ? flags | Qt::ItemNeverHasChildren : flags;
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
