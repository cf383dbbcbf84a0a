#include "platform/text/AttributeRuns.h"

#include <utility>

namespace lumora {

namespace {
const AttributeValue kNoValue;
}

AttributeRuns::~AttributeRuns() { clear(); }

AttributeRuns::AttributeRuns(AttributeRuns&& other) noexcept
    : m_root(std::exchange(other.m_root, nullptr)),
      m_palette(std::exchange(other.m_palette, Palette())),
      m_length(std::exchange(other.m_length, 0)),
      m_version(other.m_version + 1)
{
    ++other.m_version;
    other.forgetFinger();
}

AttributeRuns& AttributeRuns::operator=(AttributeRuns&& other) noexcept
{
    if (this != &other) {
        clear();
        other.forgetFinger();
        m_root = std::exchange(other.m_root, nullptr);
        m_palette = std::exchange(other.m_palette, Palette());
        m_length = std::exchange(other.m_length, 0);
        ++m_version;
        ++other.m_version;
    }
    return *this;
}

// ---- The palette --------------------------------------------------------------

std::uint32_t AttributeRuns::slotFor(const AttributeValue& value)
{
    if (value.isNull()) return 0;
    const std::optional<std::size_t> hash = value.contentHash();
    if (hash) {
        const auto [first, last] = m_palette.byHash.equal_range(*hash);
        for (auto it = first; it != last; ++it)
            if (m_palette.values[it->second] == value) return it->second;
    }
    std::uint32_t slot;
    if (!m_palette.unused.empty()) {
        slot = m_palette.unused.back();
        m_palette.unused.pop_back();
        m_palette.values[slot] = value;
        m_palette.refs[slot] = 0;
    } else {
        slot = std::uint32_t(m_palette.values.size());
        m_palette.values.push_back(value);
        m_palette.refs.push_back(0);
    }
    if (hash) m_palette.byHash.emplace(*hash, slot);
    return slot;
}

void AttributeRuns::release(std::uint32_t slot)
{
    if (!slot || --m_palette.refs[slot] > 0) return;
    AttributeValue& value = m_palette.values[slot];
    if (const std::optional<std::size_t> hash = value.contentHash()) {
        const auto [first, last] = m_palette.byHash.equal_range(*hash);
        for (auto it = first; it != last; ++it) {
            if (it->second == slot) {
                m_palette.byHash.erase(it);
                break;
            }
        }
    }
    value = AttributeValue();
    m_palette.unused.push_back(slot);
}

// The tree goes: every slot its runs held is released.
void AttributeRuns::releaseAll()
{
    if (!m_root) return;
    for (const Leaf* leaf = locate(0).leaf; leaf; leaf = leaf->next)
        for (int i = 0; i < leaf->count; ++i) release(leaf->value[i]);
}

void AttributeRuns::destroy(Node* node)
{
    if (!node) return;
    if (node->isLeaf) {
        delete static_cast<Leaf*>(node);
        return;
    }
    auto* inner = static_cast<Inner*>(node);
    for (int i = 0; i < inner->count; ++i) destroy(inner->child[i]);
    delete inner;
}

void AttributeRuns::clear()
{
    forgetFinger();
    destroy(m_root);
    m_root = nullptr;
    m_palette = Palette();
}

void AttributeRuns::materialize()
{
    if (m_root) return;
    auto* leaf = new Leaf;
    if (m_length > 0) {
        leaf->length[0] = std::int32_t(m_length);
        leaf->value[0] = 0;
        leaf->count = 1;
    }
    m_root = leaf;
}

void AttributeRuns::dropIfEmpty()
{
    if (!m_root || !m_root->isLeaf) return;
    auto* leaf = static_cast<Leaf*>(m_root);
    if (leaf->count == 0 || (leaf->count == 1 && leaf->value[0] == 0)) {
        forgetFinger();
        delete leaf;
        m_root = nullptr;
    }
}

// ---- Finding runs -----------------------------------------------------------

AttributeRuns::Position AttributeRuns::locate(qsizetype index) const
{
    Leaf* leaf;
    qsizetype base;
    if (m_finger && index >= m_fingerStart && index < m_fingerEnd) {
        leaf = m_finger;
        base = m_fingerStart;
    } else {
        const Node* node = m_root;
        base = 0;
        qsizetype end = m_length;
        while (!node->isLeaf) {
            const auto* inner = static_cast<const Inner*>(node);
            int i = 0;
            while (i < inner->count - 1 && index >= base + inner->sum[i]) base += inner->sum[i++];
            end = base + inner->sum[i];
            node = inner->child[i];
        }
        leaf = const_cast<Leaf*>(static_cast<const Leaf*>(node));
        m_finger = leaf;
        m_fingerStart = base;
        m_fingerEnd = end;
    }
    int s = 0;
    while (s < leaf->count - 1 && index >= base + leaf->length[s]) base += leaf->length[s++];
    return {leaf, s, base};
}

AttributeRuns::Position AttributeRuns::endPosition() const
{
    Node* node = m_root;
    while (!node->isLeaf) {
        auto* inner = static_cast<Inner*>(node);
        node = inner->child[inner->count - 1];
    }
    auto* leaf = static_cast<Leaf*>(node);
    return {leaf, leaf->count, m_length};
}

const AttributeValue& AttributeRuns::valueAt(qsizetype index, Range* run) const
{
    if (index < 0 || index >= m_length) {
        if (run) *run = Range(std::clamp<qsizetype>(index, 0, m_length), 0);
        return kNoValue;
    }
    if (!m_root) {
        if (run) *run = Range(0, m_length);
        return kNoValue;
    }
    const Position p = locate(index);
    if (run) *run = Range(p.start, p.leaf->length[p.slot]);
    return valueOf(p.leaf->value[p.slot]);
}

AttributeRuns::Cursor AttributeRuns::cursorAt(qsizetype index) const
{
    Cursor c;
    c.m_runs = this;
    c.m_length = m_length;
    if (index < 0) index = 0;
    if (index >= m_length) return c;
    c.m_atEnd = false;
    if (!m_root) return c;
    const Position p = locate(index);
    c.m_leaf = p.leaf;
    c.m_slot = p.slot;
    c.m_start = p.start;
    return c;
}

Range AttributeRuns::Cursor::run() const
{
    if (m_atEnd) return Range(m_length, 0);
    if (!m_leaf) return Range(0, m_length);
    return Range(m_start, m_leaf->length[m_slot]);
}

const AttributeValue& AttributeRuns::Cursor::value() const
{
    if (m_atEnd || !m_leaf) return kNoValue;
    return m_runs->valueOf(m_leaf->value[m_slot]);
}

void AttributeRuns::Cursor::next()
{
    if (m_atEnd) return;
    if (!m_leaf) {
        m_atEnd = true;
        return;
    }
    m_start += m_leaf->length[m_slot];
    if (++m_slot >= m_leaf->count) {
        m_leaf = m_leaf->next;
        m_slot = 0;
        if (!m_leaf) m_atEnd = true;
    }
}

// ---- Tree upkeep ------------------------------------------------------------

int AttributeRuns::indexInParent(const Node* node)
{
    Q_ASSERT(node->parent && node->parent->child[node->slot] == node);
    return node->slot;
}

qsizetype AttributeRuns::nodeTotal(const Node* node)
{
    qsizetype total = 0;
    if (node->isLeaf) {
        const auto* leaf = static_cast<const Leaf*>(node);
        for (int i = 0; i < leaf->count; ++i) total += leaf->length[i];
    } else {
        const auto* inner = static_cast<const Inner*>(node);
        for (int i = 0; i < inner->count; ++i) total += inner->sum[i];
    }
    return total;
}

void AttributeRuns::addToAncestors(Node* node, qsizetype delta)
{
    if (delta == 0) return;
    if (node == m_finger) m_fingerEnd += delta;
    else forgetFinger();
    while (Inner* p = node->parent) {
        p->sum[indexInParent(node)] += delta;
        node = p;
    }
}

// Where a full node splits for an insertion at index: in the middle, unless
// the insertion is near the end, as when a text is styled from start to end;
// then the node stays nearly full and the new one takes what follows, so
// that nodes filled in order stay full.
int AttributeRuns::splitPoint(int count, int index)
{
    if (index >= count - count / 8) return std::max(index, 1) < count ? std::max(index, 1) : count - 1;
    return count / 2;
}

void AttributeRuns::ensureParent(Node* node)
{
    if (node->parent) return;
    auto* root = new Inner;
    root->isLeaf = false;
    root->count = 1;
    root->child[0] = node;
    root->sum[0] = nodeTotal(node);
    node->parent = root;
    node->slot = 0;
    m_root = root;
}

// Inserts child (covering sum characters) at index of parent, splitting the
// parent first when it is full.
void AttributeRuns::insertChild(Inner* parent, int index, Node* child, qsizetype sum)
{
    if (parent->count == Inner::Capacity) {
        Inner* right = splitInner(parent, index);
        const int kept = parent->count;
        if (index > kept) {
            index -= kept;
            parent = right;
        }
    }
    for (int i = parent->count; i > index; --i) {
        parent->child[i] = parent->child[i - 1];
        parent->sum[i] = parent->sum[i - 1];
        parent->child[i]->slot = i;
    }
    parent->child[index] = child;
    parent->sum[index] = sum;
    child->parent = parent;
    child->slot = index;
    ++parent->count;
    if (sum) addToAncestors(parent, sum);
}

AttributeRuns::Inner* AttributeRuns::splitInner(Inner* inner, int at)
{
    ensureParent(inner);
    auto* right = new Inner;
    right->isLeaf = false;
    insertChild(inner->parent, indexInParent(inner) + 1, right, 0);
    const int half = splitPoint(inner->count, at);
    const int moved = inner->count - half;
    qsizetype movedSum = 0;
    for (int i = 0; i < moved; ++i) {
        right->child[i] = inner->child[half + i];
        right->sum[i] = inner->sum[half + i];
        right->child[i]->parent = right;
        right->child[i]->slot = i;
        movedSum += right->sum[i];
    }
    right->count = moved;
    inner->count = half;
    addToAncestors(inner, -movedSum);
    addToAncestors(right, movedSum);
    return right;
}

AttributeRuns::Leaf* AttributeRuns::splitLeaf(Leaf* leaf, int at)
{
    forgetFinger();
    ensureParent(leaf);
    auto* right = new Leaf;
    insertChild(leaf->parent, indexInParent(leaf) + 1, right, 0);
    const int half = splitPoint(leaf->count, at);
    const int moved = leaf->count - half;
    qsizetype movedLength = 0;
    for (int i = 0; i < moved; ++i) {
        right->length[i] = leaf->length[half + i];
        right->value[i] = leaf->value[half + i];
        movedLength += right->length[i];
    }
    right->count = moved;
    leaf->count = half;
    right->next = leaf->next;
    if (right->next) right->next->prev = right;
    right->prev = leaf;
    leaf->next = right;
    addToAncestors(leaf, -movedLength);
    addToAncestors(right, movedLength);
    return right;
}

void AttributeRuns::unlinkLeaf(Leaf* leaf)
{
    if (leaf->prev) leaf->prev->next = leaf->next;
    if (leaf->next) leaf->next->prev = leaf->prev;
    leaf->prev = leaf->next = nullptr;
}

// Removes the child at index; its characters are already accounted for
// elsewhere (it is empty, or its runs moved to a sibling).
void AttributeRuns::removeChild(Inner* parent, int index)
{
    Q_ASSERT(parent->sum[index] == 0);
    forgetFinger();
    for (int i = index + 1; i < parent->count; ++i) {
        parent->child[i - 1] = parent->child[i];
        parent->sum[i - 1] = parent->sum[i];
        parent->child[i - 1]->slot = i - 1;
    }
    --parent->count;
    if (parent->count == 0) {
        if (Inner* grand = parent->parent) {
            removeChild(grand, indexInParent(parent));
        } else {
            m_root = new Leaf;
        }
        delete parent;
        return;
    }
    if (!parent->parent && parent->count == 1) {
        m_root = parent->child[0];
        m_root->parent = nullptr;
        delete parent;
        return;
    }
    mergeInnerIfSmall(parent);
}

void AttributeRuns::mergeLeafIfSmall(Leaf* leaf)
{
    Inner* p = leaf->parent;
    if (!p || leaf->count >= Leaf::Capacity / 4) return;
    const int index = indexInParent(leaf);
    int li;
    if (index + 1 < p->count) li = index;
    else if (index > 0) li = index - 1;
    else return;
    auto* left = static_cast<Leaf*>(p->child[li]);
    auto* right = static_cast<Leaf*>(p->child[li + 1]);
    if (left->count + right->count > Leaf::Capacity) return;
    forgetFinger();
    qsizetype moved = 0;
    for (int i = 0; i < right->count; ++i) {
        left->length[left->count + i] = right->length[i];
        left->value[left->count + i] = right->value[i];
        moved += right->length[i];
    }
    left->count += right->count;
    right->count = 0;
    p->sum[li] += moved;
    p->sum[li + 1] -= moved;
    unlinkLeaf(right);
    removeChild(p, li + 1);
    delete right;
}

void AttributeRuns::mergeInnerIfSmall(Inner* inner)
{
    Inner* p = inner->parent;
    if (!p || inner->count >= Inner::Capacity / 4) return;
    const int index = indexInParent(inner);
    int li;
    if (index + 1 < p->count) li = index;
    else if (index > 0) li = index - 1;
    else return;
    auto* left = static_cast<Inner*>(p->child[li]);
    auto* right = static_cast<Inner*>(p->child[li + 1]);
    if (left->count + right->count > Inner::Capacity) return;
    qsizetype moved = 0;
    for (int i = 0; i < right->count; ++i) {
        left->child[left->count + i] = right->child[i];
        left->sum[left->count + i] = right->sum[i];
        right->child[i]->parent = left;
        right->child[i]->slot = left->count + i;
        moved += right->sum[i];
    }
    left->count += right->count;
    right->count = 0;
    p->sum[li] += moved;
    p->sum[li + 1] -= moved;
    removeChild(p, li + 1);
    delete right;
}

// ---- Run edits --------------------------------------------------------------

void AttributeRuns::insertRun(Leaf* leaf, int slot, qsizetype length, std::uint32_t value)
{
    retain(value);
    if (leaf->count == Leaf::Capacity) {
        Leaf* right = splitLeaf(leaf, slot);
        if (slot > leaf->count) {
            slot -= leaf->count;
            leaf = right;
        }
    }
    for (int i = leaf->count; i > slot; --i) {
        leaf->length[i] = leaf->length[i - 1];
        leaf->value[i] = leaf->value[i - 1];
    }
    leaf->length[slot] = std::int32_t(length);
    leaf->value[slot] = value;
    ++leaf->count;
    addToAncestors(leaf, length);
    m_length += length;
}

void AttributeRuns::removeRuns(Leaf* leaf, int from, int to)
{
    const int k = to - from;
    if (k <= 0) return;
    qsizetype removed = 0;
    for (int i = from; i < to; ++i) {
        removed += leaf->length[i];
        release(leaf->value[i]);
    }
    for (int i = to; i < leaf->count; ++i) {
        leaf->length[i - k] = leaf->length[i];
        leaf->value[i - k] = leaf->value[i];
    }
    leaf->count -= k;
    addToAncestors(leaf, -removed);
    m_length -= removed;
    if (leaf->count == 0) {
        if (Inner* p = leaf->parent) {
            const int index = indexInParent(leaf);
            unlinkLeaf(leaf);
            removeChild(p, index);
            delete leaf;
        }
        return;
    }
    mergeLeafIfSmall(leaf);
}

void AttributeRuns::grow(const Position& p, qsizetype delta)
{
    p.leaf->length[p.slot] += delta;
    addToAncestors(p.leaf, delta);
    m_length += delta;
}

void AttributeRuns::splitAt(qsizetype index)
{
    if (index <= 0 || index >= m_length) return;
    const Position p = locate(index);
    if (p.start == index) return;
    const qsizetype left = index - p.start;
    const qsizetype right = p.leaf->length[p.slot] - left;
    p.leaf->length[p.slot] = std::int32_t(left);
    addToAncestors(p.leaf, -right);
    m_length -= right;
    insertRun(p.leaf, p.slot + 1, right, p.leaf->value[p.slot]);
}

void AttributeRuns::removeRange(qsizetype from, qsizetype to)
{
    if (from >= to) return;
    if (from == 0 && to == m_length) {
        releaseAll();
        forgetFinger();
        destroy(m_root);
        m_length = 0;
        m_root = new Leaf;
        return;
    }
    splitAt(from);
    splitAt(to);
    qsizetype remaining = to - from;
    while (remaining > 0) {
        const Position p = locate(from);
        int end = p.slot;
        qsizetype covered = 0;
        while (end < p.leaf->count && covered + p.leaf->length[end] <= remaining) covered += p.leaf->length[end++];
        Q_ASSERT(covered > 0);
        removeRuns(p.leaf, p.slot, end);
        remaining -= covered;
    }
}

void AttributeRuns::coalesceAt(qsizetype index)
{
    if (index <= 0 || index >= m_length) return;
    const Position right = locate(index);
    if (right.start != index) return;
    Position left = right;
    if (left.slot > 0) {
        --left.slot;
    } else {
        left.leaf = left.leaf->prev;
        left.slot = left.leaf->count - 1;
    }
    if (!same(left.leaf->value[left.slot], right.leaf->value[right.slot])) return;
    const qsizetype length = right.leaf->length[right.slot];
    grow(left, length);
    removeRuns(right.leaf, right.slot, right.slot + 1);
}

void AttributeRuns::insertAt(qsizetype index, qsizetype length, std::uint32_t value)
{
    if (index > 0) {
        const Position before = locate(index - 1);
        if (same(before.leaf->value[before.slot], value)) {
            grow(before, length);
            return;
        }
    }
    if (index < m_length) {
        const Position at = locate(index);
        if (same(at.leaf->value[at.slot], value)) {
            grow(at, length);
            return;
        }
    }
    splitAt(index);
    const Position p = index < m_length ? locate(index) : endPosition();
    insertRun(p.leaf, p.slot, length, value);
}

bool AttributeRuns::assign(Range range, const AttributeValue& value)
{
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, m_length);
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, m_length);
    if (from >= to) return false;
    if (!m_root) {
        if (value.isNull()) return false;
        materialize();
    }
    const Position p = locate(from);
    const qsizetype runEnd = p.start + p.leaf->length[p.slot];
    if (runEnd >= to && valueOf(p.leaf->value[p.slot]) == value) return false;
    ++m_version;
    // Held for the call: the removal below may release what value refers to.
    const std::uint32_t slot = slotFor(value);
    retain(slot);

    if (from == 0 && to == m_length) {
        const qsizetype length = m_length;
        removeRange(0, length);
        insertRun(static_cast<Leaf*>(m_root), 0, length, slot);
    } else if (p.start < from && to < runEnd) {
        // Inside one run: cut it in three, keeping the two ends.
        const std::uint32_t old = p.leaf->value[p.slot];
        p.leaf->length[p.slot] = std::int32_t(from - p.start);
        addToAncestors(p.leaf, -(runEnd - from));
        m_length -= runEnd - from;
        insertRun(p.leaf, p.slot + 1, runEnd - to, old);
        const Position tail = locate(from); // the tail now starts at from
        insertRun(tail.leaf, tail.slot, to - from, slot);
    } else {
        removeRange(from, to);
        coalesceAt(from);
        insertAt(from, to - from, slot);
    }
    release(slot);
    dropIfEmpty();
    return true;
}

void AttributeRuns::replace(Range range, qsizetype newLength, const AttributeValue& value)
{
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, m_length);
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, m_length);
    if (from == to && newLength <= 0) return;
    ++m_version;
    if (!m_root) {
        if (value.isNull() || newLength <= 0) {
            m_length += std::max<qsizetype>(newLength, 0) - (to - from);
            return;
        }
        materialize();
    }
    const std::uint32_t slot = slotFor(value);
    retain(slot);
    if (from < to) {
        removeRange(from, to);
        coalesceAt(from);
    }
    if (newLength > 0) insertAt(from, newLength, slot);
    release(slot);
    dropIfEmpty();
}

void AttributeRuns::compact()
{
    if (!m_root || m_root->isLeaf || m_length == 0) return;
    // The runs, in order, into full leaves; the old nodes go (their slots
    // move to the new leaves).
    std::vector<Node*> level;
    Leaf* filling = nullptr;
    Leaf* previous = nullptr;
    for (const Leaf* leaf = locate(0).leaf; leaf; leaf = leaf->next) {
        for (int i = 0; i < leaf->count; ++i) {
            if (!filling || filling->count == Leaf::Capacity) {
                filling = new Leaf;
                filling->prev = previous;
                if (previous) previous->next = filling;
                previous = filling;
                level.push_back(filling);
            }
            filling->length[filling->count] = leaf->length[i];
            filling->value[filling->count] = leaf->value[i];
            ++filling->count;
        }
    }
    forgetFinger();
    destroy(m_root);
    // Inner levels of full nodes above them.
    while (level.size() > 1) {
        std::vector<Node*> parents;
        for (size_t i = 0; i < level.size(); i += Inner::Capacity) {
            auto* inner = new Inner;
            inner->isLeaf = false;
            const size_t end = std::min(level.size(), i + Inner::Capacity);
            for (size_t j = i; j < end; ++j) {
                Node* child = level[j];
                child->parent = inner;
                child->slot = inner->count;
                inner->child[inner->count] = child;
                inner->sum[inner->count] = nodeTotal(child);
                ++inner->count;
            }
            parents.push_back(inner);
        }
        level = std::move(parents);
    }
    m_root = level.front();
    m_root->parent = nullptr;
    m_root->slot = 0;
    ++m_version;
}

// ---- Inspection -------------------------------------------------------------

int AttributeRuns::runCount() const
{
    if (!m_root) return m_length > 0 ? 1 : 0;
    int n = 0;
    for (const Leaf* leaf = locate(0).leaf; leaf; leaf = leaf->next) n += leaf->count;
    return n;
}

int AttributeRuns::distinctValueCount() const
{
    return int(m_palette.values.size() - 1 - m_palette.unused.size());
}

std::size_t AttributeRuns::memoryUsage() const
{
    // The palette: its values, counts and hash entries (nodes of about
    // four words).
    std::size_t bytes = m_palette.values.size() * sizeof(AttributeValue)
        + m_palette.refs.capacity() * sizeof(std::uint32_t) + m_palette.unused.capacity() * sizeof(std::uint32_t)
        + m_palette.byHash.size() * 4 * sizeof(void*) + m_palette.byHash.bucket_count() * sizeof(void*);
    auto walk = [&](auto&& self, const Node* node) -> void {
        if (node->isLeaf) {
            bytes += sizeof(Leaf);
            return;
        }
        bytes += sizeof(Inner);
        const auto* inner = static_cast<const Inner*>(node);
        for (int i = 0; i < inner->count; ++i) self(self, inner->child[i]);
    };
    if (m_root) walk(walk, m_root);
    return bytes;
}

const char* AttributeRuns::invariantViolation() const
{
    if (!m_root) return m_length >= 0 ? "" : "negative length";
    const char* problem = "";
    std::vector<std::uint32_t> holders(m_palette.values.size(), 0);
    const Leaf* previous = nullptr;
    int depthOfLeaves = -1;
    auto walk = [&](auto&& self, const Node* node, int depth) -> qsizetype {
        if (*problem) return 0;
        if (node->isLeaf) {
            const auto* leaf = static_cast<const Leaf*>(node);
            if (depthOfLeaves < 0) depthOfLeaves = depth;
            else if (depthOfLeaves != depth) problem = "leaves at different depths";
            if (leaf->prev != previous) problem = "broken leaf links";
            if (previous && previous->next != leaf) problem = "broken leaf links";
            if (leaf->count == 0 && node != m_root) problem = "empty leaf";
            qsizetype total = 0;
            for (int i = 0; i < leaf->count; ++i) {
                if (leaf->length[i] <= 0) problem = "empty run";
                total += leaf->length[i];
                const std::uint32_t* before = i > 0 ? &leaf->value[i - 1]
                    : (previous && previous->count ? &previous->value[previous->count - 1] : nullptr);
                if (before && same(*before, leaf->value[i])) problem = "equal neighbouring runs";
                if (leaf->value[i] >= m_palette.values.size()) problem = "slot outside the palette";
                else if (leaf->value[i]) ++holders[leaf->value[i]];
            }
            previous = leaf;
            return total;
        }
        const auto* inner = static_cast<const Inner*>(node);
        if (inner->count < 1) problem = "empty inner node";
        qsizetype total = 0;
        for (int i = 0; i < inner->count; ++i) {
            if (inner->child[i]->parent != inner) problem = "broken parent link";
            const qsizetype sub = self(self, inner->child[i], depth + 1);
            if (sub != inner->sum[i]) problem = "wrong sum";
            total += sub;
        }
        return total;
    };
    if (m_root->parent) return "root has a parent";
    const qsizetype total = walk(walk, m_root, 0);
    if (*problem) return problem;
    if (previous && previous->next) return "broken leaf links";
    if (total != m_length) return "wrong length";
    for (size_t slot = 1; slot < holders.size(); ++slot) {
        if (holders[slot] != m_palette.refs[slot]) return "wrong count of runs for a value";
        if (!holders[slot] && !m_palette.values[slot].isNull()) return "a value no run holds";
    }
    return "";
}

} // namespace lumora
