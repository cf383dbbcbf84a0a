#include "library/LibraryOutlineModel.h"

#include "library/File.h"
#include "platform/files/NativePath.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <unordered_map>

namespace lumora {

namespace {

// Nodes that left are kept until the next reset; a reset comes sooner when
// this many wait.
constexpr size_t kRetiredLimit = 50000;

} // namespace

LibraryOutlineModel::LibraryOutlineModel(QObject* parent) : QAbstractItemModel(parent)
{
    m_root = std::make_unique<Node>();
}

LibraryOutlineModel::~LibraryOutlineModel()
{
    // The files may be gone already: nothing is told.
    m_onScreen.clear();
}

// The shown tree --------------------------------------------------------------------

void LibraryOutlineModel::setRoot(Directory* root)
{
    for (const Node* node : std::as_const(m_onScreen))
        if (node->file) node->file->setVisible(false);
    m_onScreen.clear();
    beginResetModel();
    m_rootFile = root;
    m_nodes.clear();
    m_root = std::make_unique<Node>();
    m_root->file = root;
    m_retired.clear();
    m_pending = Pending::none;
    endResetModel();
}

void LibraryOutlineModel::resync()
{
    // The rows disagree with the tree: whatever is on screen is left alone
    // (its files may not be what the nodes think), and the tree is shown
    // afresh.
    ++m_resyncs;
    m_onScreen.clear();
    beginResetModel();
    m_nodes.clear();
    m_root = std::make_unique<Node>();
    m_root->file = m_rootFile;
    m_retired.clear();
    endResetModel();
}

File* LibraryOutlineModel::fileAt(const QModelIndex& index) const
{
    const Node* node = nodeOf(index);
    return node ? node->file : nullptr;
}

LibraryOutlineModel::Node* LibraryOutlineModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this) return nullptr;
    return static_cast<Node*>(index.internalPointer());
}

LibraryOutlineModel::Node* LibraryOutlineModel::nodeFor(const Directory& folder) const
{
    if (&folder == m_rootFile) return m_root.get();
    return m_nodes.value(&folder, nullptr);
}

LibraryOutlineModel::Node* LibraryOutlineModel::shownNodeFor(const Directory& folder) const
{
    Node* node = nodeFor(folder);
    return node && node->populated ? node : nullptr;
}

QModelIndex LibraryOutlineModel::indexOfNode(const Node* node) const
{
    if (!node || node == m_root.get() || !node->file) return {};
    return createIndex(node->row, 0, const_cast<Node*>(node));
}

QModelIndex LibraryOutlineModel::indexOf(const File* file)
{
    if (!file || !m_rootFile || file == m_rootFile) return {};
    std::vector<const Directory*> folders;
    const Directory* folder = file->parent();
    for (; folder && folder != m_rootFile; folder = folder->parent()) folders.push_back(folder);
    if (folder != m_rootFile) return {};
    populate(*m_root);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        Node* node = m_nodes.value(*it, nullptr);
        if (!node) return {};
        populate(*node);
    }
    return indexOfNode(m_nodes.value(file, nullptr));
}

std::unique_ptr<LibraryOutlineModel::Node> LibraryOutlineModel::makeNode(File* file, Node* parent) const
{
    auto node = std::make_unique<Node>();
    node->file = file;
    node->parent = parent;
    m_nodes.insert(file, node.get());
    return node;
}

void LibraryOutlineModel::populate(Node& node) const
{
    if (node.populated || !node.file || !node.file->isDirectory()) return;
    node.populated = true;
    const auto& folder = static_cast<const Directory&>(*node.file);
    node.children.reserve(size_t(folder.count()));
    for (int i = 0; i < folder.count(); ++i) {
        node.children.push_back(makeNode(folder.child(i), &node));
        node.children.back()->row = i;
    }
}

void LibraryOutlineModel::renumber(Node& node, size_t from)
{
    for (size_t i = from; i < node.children.size(); ++i) node.children[i]->row = int(i);
}

void LibraryOutlineModel::forget(Node& node)
{
    for (const auto& child : node.children) forget(*child);
    if (!node.file) return;
    m_nodes.remove(node.file);
    if (m_onScreen.remove(&node)) node.file->setVisible(false);
    node.file = nullptr;
}

void LibraryOutlineModel::retire(std::unique_ptr<Node> node)
{
    forget(*node);
    node->parent = nullptr;
    m_retired.push_back(std::move(node));
}

bool LibraryOutlineModel::matches(const Node& node, const Directory& folder) const
{
    return !node.populated || int(node.children.size()) == folder.count();
}

// Rows on screen ---------------------------------------------------------------------

void LibraryOutlineModel::setRowsOnScreen(const QModelIndexList& rows)
{
    QSet<const Node*> now;
    now.reserve(rows.size());
    for (const QModelIndex& index : rows)
        if (const Node* node = nodeOf(index); node && node->file) now.insert(node);
    const QSet<const Node*> before = m_onScreen;
    m_onScreen = now;
    for (const Node* node : before)
        if (!now.contains(node) && node->file) node->file->setVisible(false);
    for (const Node* node : now)
        // A file shown anew may read itself again; the node is still there
        // unless that changed the tree.
        if (!before.contains(node) && m_onScreen.contains(node) && node->file) node->file->setVisible(true);
}

bool LibraryOutlineModel::isOnScreen(const File* file) const
{
    const Node* node = m_nodes.value(file, nullptr);
    return node && m_onScreen.contains(node);
}

// Changes from the file controller -------------------------------------------------

void LibraryOutlineModel::willInsertRow(Directory& parent, int index)
{
    m_pending = Pending::none;
    Node* node = shownNodeFor(parent);
    if (!node) return;
    if (index < 0 || index > int(node->children.size()) || !matches(*node, parent)) {
        m_pending = Pending::resync;
        return;
    }
    beginInsertRows(indexOfNode(node), index, index);
    m_pending = Pending::insert;
    m_pendingTo = node;
}

void LibraryOutlineModel::didInsertRow(Directory& parent, int index)
{
    const Pending pending = std::exchange(m_pending, Pending::none);
    if (pending == Pending::resync) {
        resync();
        return;
    }
    if (pending != Pending::insert) return;
    Node* node = m_pendingTo;
    File* file = index >= 0 && index < parent.count() ? parent.child(index) : nullptr;
    if (!file || node != nodeFor(parent)) {
        endInsertRows();
        resync();
        return;
    }
    node->children.insert(node->children.begin() + index, makeNode(file, node));
    renumber(*node, size_t(index));
    endInsertRows();
    if (!matches(*node, parent)) resync();
}

void LibraryOutlineModel::willRemoveRow(Directory& parent, int index)
{
    m_pending = Pending::none;
    Node* node = shownNodeFor(parent);
    if (!node) return;
    if (index < 0 || index >= int(node->children.size()) || index >= parent.count()
        || node->children[size_t(index)]->file != parent.child(index)) {
        m_pending = Pending::resync;
        return;
    }
    beginRemoveRows(indexOfNode(node), index, index);
    m_pending = Pending::remove;
    m_pendingFrom = node;
}

void LibraryOutlineModel::didRemoveRow(Directory& parent, int index)
{
    const Pending pending = std::exchange(m_pending, Pending::none);
    if (pending == Pending::resync) {
        resync();
        return;
    }
    if (pending != Pending::remove) return;
    Node* node = m_pendingFrom;
    std::unique_ptr<Node> removed = std::move(node->children[size_t(index)]);
    node->children.erase(node->children.begin() + index);
    renumber(*node, size_t(index));
    retire(std::move(removed));
    endRemoveRows();
    if (!matches(*node, parent) || m_retired.size() > kRetiredLimit) resync();
}

void LibraryOutlineModel::willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    m_pending = Pending::none;
    Node* source = shownNodeFor(from);
    Node* target = shownNodeFor(to);
    if (source
        && (fromIndex < 0 || fromIndex >= int(source->children.size()) || fromIndex >= from.count()
            || source->children[size_t(fromIndex)]->file != from.child(fromIndex))) {
        m_pending = Pending::resync;
        return;
    }
    if (target) {
        const int limit = int(target->children.size()) - (source == target ? 1 : 0);
        if (toIndex < 0 || toIndex > limit) {
            m_pending = Pending::resync;
            return;
        }
    }
    m_pendingFrom = source;
    m_pendingTo = target;
    if (source && target) {
        const int destination = source == target && toIndex > fromIndex ? toIndex + 1 : toIndex;
        if (!beginMoveRows(indexOfNode(source), fromIndex, fromIndex, indexOfNode(target), destination)) {
            m_pending = Pending::resync;
            return;
        }
        m_pending = Pending::move;
    } else if (source) {
        // Into a folder whose rows were never asked for: the row leaves.
        beginRemoveRows(indexOfNode(source), fromIndex, fromIndex);
        m_pending = Pending::remove;
    } else if (target) {
        // From a folder whose rows were never asked for: a new row.
        beginInsertRows(indexOfNode(target), toIndex, toIndex);
        m_pending = Pending::insert;
    }
}

void LibraryOutlineModel::didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    switch (m_pending) {
    case Pending::none:
        return;
    case Pending::resync:
        m_pending = Pending::none;
        resync();
        return;
    case Pending::remove:
        didRemoveRow(from, fromIndex);
        return;
    case Pending::insert:
        didInsertRow(to, toIndex);
        return;
    case Pending::move:
        break;
    }
    m_pending = Pending::none;
    Node* source = m_pendingFrom;
    Node* target = m_pendingTo;
    std::unique_ptr<Node> moving = std::move(source->children[size_t(fromIndex)]);
    source->children.erase(source->children.begin() + fromIndex);
    moving->parent = target;
    target->children.insert(target->children.begin() + toIndex, std::move(moving));
    if (source == target) {
        renumber(*source, size_t(std::min(fromIndex, toIndex)));
    } else {
        renumber(*source, size_t(fromIndex));
        renumber(*target, size_t(toIndex));
    }
    endMoveRows();
    const bool moved = toIndex < to.count() && target->children[size_t(toIndex)]->file == to.child(toIndex);
    if (!moved || !matches(*source, from) || !matches(*target, to)) resync();
}

void LibraryOutlineModel::fileDidChange(File& file)
{
    const QModelIndex index = indexOfNode(m_nodes.value(&file, nullptr));
    if (index.isValid()) emit dataChanged(index, index);
}

void LibraryOutlineModel::sortWillChange()
{
    emit layoutAboutToBeChanged();
}

bool LibraryOutlineModel::reorder(Node& node)
{
    if (!node.populated) return true;
    const auto& folder = static_cast<const Directory&>(*node.file);
    if (int(node.children.size()) != folder.count()) return false;
    std::unordered_map<const File*, std::unique_ptr<Node>> byFile;
    byFile.reserve(node.children.size());
    for (auto& child : node.children) {
        const File* file = child->file;
        byFile.emplace(file, std::move(child));
    }
    node.children.clear();
    bool ok = true;
    for (int i = 0; i < folder.count(); ++i) {
        auto found = byFile.find(folder.child(i));
        if (found == byFile.end()) {
            ok = false;
            continue;
        }
        node.children.push_back(std::move(found->second));
        byFile.erase(found);
    }
    const bool allPlaced = byFile.empty();
    for (auto& [file, rest] : byFile) node.children.push_back(std::move(rest));
    renumber(node, 0);
    for (const auto& child : node.children)
        if (child->file && child->file->isDirectory() && !reorder(*child)) ok = false;
    return ok && allPlaced;
}

void LibraryOutlineModel::sortDidChange()
{
    const bool ok = !m_rootFile || reorder(*m_root);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const Node* node = nodeOf(index);
        after << (node && node->file ? createIndex(node->row, index.column(), const_cast<Node*>(node)) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
    if (!ok) resync();
}

void LibraryOutlineModel::refreshAllRows()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

// QAbstractItemModel ------------------------------------------------------------------

QModelIndex LibraryOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0) return {};
    Node* node = parent.isValid() ? nodeOf(parent) : m_root.get();
    if (!node || !node->file) return {};
    populate(*node);
    if (row >= int(node->children.size())) return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex LibraryOutlineModel::parent(const QModelIndex& child) const
{
    const Node* node = nodeOf(child);
    if (!node || !node->file || !node->parent || node->parent == m_root.get()) return {};
    return indexOfNode(node->parent);
}

int LibraryOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    Node* node = parent.isValid() ? nodeOf(parent) : m_root.get();
    if (!node || !node->file || !node->file->isDirectory()) return 0;
    populate(*node);
    return int(node->children.size());
}

int LibraryOutlineModel::columnCount(const QModelIndex&) const { return 1; }

bool LibraryOutlineModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid()) return rowCount(parent) > 0;
    const Node* node = nodeOf(parent);
    // A folder can always be opened, even an empty one.
    return node && node->file && node->file->isDirectory() && parent.column() == 0;
}

QVariant LibraryOutlineModel::data(const QModelIndex& index, int role) const
{
    const File* file = fileAt(index);
    if (!file) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return file->filename();
    case isFolderRole:
        return file->isDirectory();
    default:
        return {};
    }
}

bool LibraryOutlineModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    File* file = fileAt(index);
    if (!file || role != Qt::EditRole || !renameHandler) return false;
    renameHandler(*file, value.toString());
    return true;
}

Qt::ItemFlags LibraryOutlineModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    const File* file = fileAt(index);
    if (!file) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    if (file->isDirectory()) flags |= Qt::ItemIsDropEnabled;
    return flags;
}

QStringList LibraryOutlineModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* LibraryOutlineModel::mimeData(const QModelIndexList& indexes) const
{
    QList<QUrl> urls;
    QSet<const File*> seen;
    for (const QModelIndex& index : indexes) {
        const File* file = fileAt(index);
        if (!file || seen.contains(file)) continue;
        seen.insert(file);
        urls << NativePath::fileUrl(file->path());
    }
    if (urls.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

Qt::DropActions LibraryOutlineModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

Qt::DropActions LibraryOutlineModel::supportedDropActions() const { return Qt::MoveAction; }

} // namespace lumora
