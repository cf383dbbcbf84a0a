#include "platform/text/BlockHeights.h"

namespace lumora {

void BlockHeights::assign(int count, float height)
{
    LayoutBlock block;
    block.height = height;
    m_blocks.assign(size_t(count), block);
    m_topsValid = 1;
    rebuild(0);
}

void BlockHeights::rebuild(int fromBlock)
{
    const int count = int(m_blocks.size());
    const int chunks = (count + kChunk - 1) / kChunk;
    m_chunkSums.resize(size_t(std::max(chunks, 1)));
    m_chunkTops.resize(size_t(std::max(chunks, 1)) + 1);
    const int firstChunk = std::min(fromBlock / kChunk, std::max(chunks - 1, 0));
    for (int c = firstChunk; c < chunks; ++c) {
        double sum = 0.0;
        const int end = std::min(count, (c + 1) * kChunk);
        for (int i = c * kChunk; i < end; ++i) sum += m_blocks[size_t(i)].height;
        m_chunkSums[size_t(c)] = sum;
    }
    if (chunks == 0) m_chunkSums[0] = 0.0;
    m_chunkTops[0] = 0.0;
    m_topsValid = std::max(1, std::min(m_topsValid, firstChunk + 1));
}

int BlockHeights::indexAt(double y) const
{
    const int count = int(m_blocks.size());
    if (count == 0) return -1;
    top(count); // all chunk tops current
    const int chunks = int(m_chunkSums.size());
    // The last chunk that starts at or above y.
    int lo = 0;
    int hi = chunks - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (m_chunkTops[size_t(mid)] <= y) lo = mid;
        else hi = mid - 1;
    }
    double at = m_chunkTops[size_t(lo)];
    const int end = std::min(count, (lo + 1) * kChunk);
    for (int i = lo * kChunk; i < end; ++i) {
        at += m_blocks[size_t(i)].height;
        if (y < at) return i;
    }
    return end - 1;
}

} // namespace lumora
