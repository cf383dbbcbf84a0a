#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumora {

// What the editor's layout keeps of one block: sixteen bytes, for a long
// text has a million of them.
struct LayoutBlock {
    float height = 0.0f;     // top margin plus lines: exact when measured
    float topMargin = 0.0f;  // the top margin as last laid out
    std::uint32_t used = 0;  // when it was last drawn or asked for
    bool measured : 1 = false; // the height is exact for the text, looks and width
    bool current : 1 = false;  // the block's own text layout holds lines for them
    bool held : 1 = false;     // the block's own text layout holds lines or formats
    bool wanted : 1 = false;   // laid out in its own layout before the last change
    bool pending : 1 = false;  // to lay out again when the batch ends
    // Only its looks changed since it was measured: unless what breaks
    // its lines changed (lineKey), its lines are those it had, and
    // measuring it again only finds its new margin.
    bool linesKept : 1 = false;
    std::uint32_t lineKey : 24 = 0; // what broke its lines, as last laid out
};
static_assert(sizeof(LayoutBlock) == 16, "a block's record stays sixteen bytes");

// The blocks of a text in order, each with its height, and where each one
// starts. Heights are summed per chunk of blocks and the chunks' tops are
// brought up to date lazily from the first one a change touched, so that a
// position costs a few hundred additions however long the text, and a
// changed height costs one.
class BlockHeights {
public:
    static constexpr int kChunk = 256;

    int size() const { return int(m_blocks.size()); }
    bool empty() const { return m_blocks.empty(); }
    LayoutBlock& operator[](int index) { return m_blocks[size_t(index)]; }
    const LayoutBlock& operator[](int index) const { return m_blocks[size_t(index)]; }
    std::vector<LayoutBlock>::const_iterator begin() const { return m_blocks.begin(); }
    std::vector<LayoutBlock>::const_iterator end() const { return m_blocks.end(); }

    void clear() { m_blocks.clear(); }
    // count blocks of the same height, their sums and tops afresh.
    void assign(int count, float height);
    // Blocks added at at, or taken away from at on; the chunks from there on
    // are summed again with rebuild().
    void insert(int at, int count) { m_blocks.insert(m_blocks.begin() + at, size_t(count), LayoutBlock{}); }
    void erase(int at, int count) { m_blocks.erase(m_blocks.begin() + at, m_blocks.begin() + at + count); }
    // Sums the chunks again from the one holding fromBlock (after blocks
    // were added or taken away).
    void rebuild(int fromBlock);

    void setHeight(int index, double height)
    {
        LayoutBlock& b = m_blocks[size_t(index)];
        const int chunk = index / kChunk;
        const float stored = float(height);
        m_chunkSums[size_t(chunk)] += double(stored) - double(b.height);
        b.height = stored;
        m_topsValid = std::min(m_topsValid, chunk + 1);
    }

    // Where block index starts (the sum of the heights before it).
    double top(int index) const
    {
        const int chunk = index / kChunk;
        const int chunks = int(m_chunkSums.size());
        const int needed = std::min(chunk, chunks);
        while (m_topsValid <= needed) {
            const size_t previous = size_t(m_topsValid - 1);
            m_chunkTops[previous + 1] = m_chunkTops[previous] + m_chunkSums[previous];
            ++m_topsValid;
        }
        double y = m_chunkTops[size_t(needed)];
        const int end = std::min(index, int(m_blocks.size()));
        for (int i = needed * kChunk; i < end; ++i) y += m_blocks[size_t(i)].height;
        return y;
    }

    double total() const { return top(size()); }
    // The block at height y (the last one below the end); -1 when empty.
    int indexAt(double y) const;

private:
    std::vector<LayoutBlock> m_blocks;
    std::vector<double> m_chunkSums;
    // Tops of the chunks: a cache, brought up to date by the queries.
    mutable std::vector<double> m_chunkTops;
    mutable int m_topsValid = 0; // chunks whose tops are current
};

} // namespace lumora
