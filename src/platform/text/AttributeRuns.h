#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

namespace lumora {

namespace detail {

struct RunInner;

struct RunNode {
    RunInner* parent = nullptr;
    int slot = 0; // index in the parent
    int count = 0;
    bool isLeaf = true;
};

// A leaf holds up to Capacity consecutive runs: their lengths and values
// (slots in the palette of the runs; 0 for none).
struct RunLeaf : RunNode {
    static constexpr int Capacity = 64;
    RunLeaf* prev = nullptr;
    RunLeaf* next = nullptr;
    std::int32_t length[Capacity];
    std::uint32_t value[Capacity];
};

// An inner node holds its children and the text length each of them covers.
struct RunInner : RunNode {
    static constexpr int Capacity = 32;
    qsizetype sum[Capacity];
    RunNode* child[Capacity];
};

} // namespace detail

// The runs of one attribute over a text: consecutive stretches that each
// carry one value (or none). Neighbouring runs never carry equal values, so
// each run is the longest stretch with its value.
//
// Runs live in a B+ tree whose inner nodes know the length under each child:
// finding the run at an offset, changing a run and inserting or removing text
// cost O(log n) plus the runs touched, never a pass over the whole text. An
// attribute that no character carries costs no tree at all.
//
// A run is eight bytes: its length and a slot of the palette, which holds
// each distinct value once (values compared by content are found by their
// hash; program objects each get a slot of their own) with the number of
// runs that carry it. A styled text has hundreds of thousands of runs but
// only a handful of distinct fonts, colours and paragraph styles. A run is
// at most 2^31 - 1 characters long.
class AttributeRuns {
public:
    AttributeRuns() = default;
    explicit AttributeRuns(qsizetype length) : m_length(length) {}
    ~AttributeRuns();
    AttributeRuns(const AttributeRuns&) = delete;
    AttributeRuns& operator=(const AttributeRuns&) = delete;
    AttributeRuns(AttributeRuns&& other) noexcept;
    AttributeRuns& operator=(AttributeRuns&& other) noexcept;

    qsizetype length() const { return m_length; }
    // True while no character carries a value.
    bool isEmpty() const { return !m_root; }
    // Bumped by every change; cursors made before a change are stale after it.
    std::uint64_t version() const { return m_version; }

    // The value at index (0 <= index < length; a null value outside) and, when
    // run is given, the run holding it.
    const AttributeValue& valueAt(qsizetype index, Range* run = nullptr) const;

    // Gives every character of range the value (a null value removes it).
    // Returns whether anything changed.
    bool assign(Range range, const AttributeValue& value);

    // Replaces range by newLength characters carrying value (text edits).
    void replace(Range range, qsizetype newLength, const AttributeValue& value);

    // Packs the runs into full nodes (after a change of a long stretch,
    // which leaves nodes partly filled). Cursors made before are stale.
    void compact();

    // A forward walk over the runs, valid until the next change.
    class Cursor {
    public:
        bool atEnd() const { return m_atEnd; }
        Range run() const;
        const AttributeValue& value() const;
        void next();

    private:
        friend class AttributeRuns;
        const AttributeRuns* m_runs = nullptr;
        const detail::RunLeaf* m_leaf = nullptr;
        int m_slot = 0;
        qsizetype m_start = 0;
        qsizetype m_length = 0; // whole length, for the tree-less case
        bool m_atEnd = true;
    };
    // A cursor at the run holding index (at the end when index >= length).
    Cursor cursorAt(qsizetype index) const;

    int runCount() const;
    // Bytes held by the tree's nodes and the palette (not by the values'
    // own shared data).
    std::size_t memoryUsage() const;
    // Distinct values the runs carry now.
    int distinctValueCount() const;
    // Checks the tree's invariants (sums, links, no empty or equal
    // neighbouring runs); for tests. Returns an empty string when sound.
    const char* invariantViolation() const;

private:
    using Leaf = detail::RunLeaf;
    using Inner = detail::RunInner;
    using Node = detail::RunNode;

    struct Position {
        Leaf* leaf = nullptr;
        int slot = 0;
        qsizetype start = 0;
    };

    // Slots: the palette's values with the number of runs holding each.
    struct Palette {
        std::deque<AttributeValue> values{AttributeValue()}; // slot 0: none
        std::vector<std::uint32_t> refs{0};
        std::vector<std::uint32_t> unused;
        std::unordered_multimap<std::size_t, std::uint32_t> byHash;
    };
    // The slot of value, added when it has none yet; the caller retains it
    // (or releases a slot it holds only for the call).
    std::uint32_t slotFor(const AttributeValue& value);
    void retain(std::uint32_t slot) { if (slot) ++m_palette.refs[slot]; }
    void release(std::uint32_t slot);
    const AttributeValue& valueOf(std::uint32_t slot) const { return m_palette.values[slot]; }
    bool same(std::uint32_t a, std::uint32_t b) const { return a == b || valueOf(a) == valueOf(b); }
    void releaseAll();

    Position locate(qsizetype index) const; // index < m_length
    Position endPosition() const;           // after the last run
    void materialize();
    void dropIfEmpty();
    void clear();

    void addToAncestors(Node* node, qsizetype delta);
    static int indexInParent(const Node* node);
    static qsizetype nodeTotal(const Node* node);

    void insertRun(Leaf* leaf, int slot, qsizetype length, std::uint32_t value);
    void removeRuns(Leaf* leaf, int from, int to);
    static int splitPoint(int count, int index);
    Leaf* splitLeaf(Leaf* leaf, int at);
    Inner* splitInner(Inner* inner, int at);
    void insertChild(Inner* parent, int index, Node* child, qsizetype sum);
    void removeChild(Inner* parent, int index);
    void ensureParent(Node* node);
    void mergeLeafIfSmall(Leaf* leaf);
    void mergeInnerIfSmall(Inner* inner);
    static void unlinkLeaf(Leaf* leaf);
    static void destroy(Node* node);

    void splitAt(qsizetype index);
    void removeRange(qsizetype from, qsizetype to);
    void insertAt(qsizetype index, qsizetype length, std::uint32_t value);
    void coalesceAt(qsizetype index);
    void grow(const Position& p, qsizetype delta);

    // The leaf found last and the stretch it covers: most look-ups of an
    // edit fall into it, and then need no descent. Forgotten whenever a
    // change could move it.
    void forgetFinger() const { m_finger = nullptr; }

    Node* m_root = nullptr; // null: no character carries a value
    Palette m_palette;
    mutable Leaf* m_finger = nullptr;
    mutable qsizetype m_fingerStart = 0;
    mutable qsizetype m_fingerEnd = 0;
    qsizetype m_length = 0;
    std::uint64_t m_version = 0;
};

} // namespace lumora
