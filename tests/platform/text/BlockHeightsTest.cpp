#include "platform/text/BlockHeights.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lumora;

namespace {

// Positions summed block by block, the slow way.
double naiveTop(const BlockHeights& heights, int index)
{
    double y = 0.0;
    for (int i = 0; i < index; ++i) y += heights[i].height;
    return y;
}

void expectConsistent(const BlockHeights& heights)
{
    for (int i = 0; i <= heights.size(); i += 37)
        ASSERT_DOUBLE_EQ(heights.top(i), naiveTop(heights, i)) << "block " << i;
    ASSERT_DOUBLE_EQ(heights.total(), naiveTop(heights, heights.size()));
    for (int i = 0; i < heights.size(); i += 41) {
        // A point inside the block, and its top edge, both find it.
        EXPECT_EQ(heights.indexAt(heights.top(i) + heights[i].height / 2), i);
        EXPECT_EQ(heights.indexAt(heights.top(i)), i);
    }
    EXPECT_EQ(heights.indexAt(heights.total() + 100.0), heights.size() - 1);
}

} // namespace

// Positions come from sums per chunk of blocks, brought up to date lazily:
// they must stay those of the plain sums through every kind of change,
// across chunk boundaries, with queries between the changes and without.
TEST(BlockHeightsTest, PositionsFollowHeightsInsertionsAndRemovalsAcrossChunks)
{
    BlockHeights heights;
    EXPECT_EQ(heights.indexAt(10.0), -1);
    const int count = 5 * BlockHeights::kChunk + 17;
    heights.assign(count, 20.0f);
    expectConsistent(heights);

    // Heights changed in several chunks, the earliest last: the tops
    // computed meanwhile must not be trusted past it.
    heights.setHeight(4 * BlockHeights::kChunk + 3, 55.0);
    expectConsistent(heights);
    heights.setHeight(2 * BlockHeights::kChunk - 1, 7.5);
    heights.setHeight(1, 100.0);
    expectConsistent(heights);

    // Blocks added in the middle of a chunk and taken away across a chunk
    // boundary, summed again from where the change began.
    const int at = BlockHeights::kChunk + 100;
    heights.insert(at, 300);
    for (int i = at; i < at + 300; ++i) heights[i].height = 3.0f;
    heights.rebuild(at);
    expectConsistent(heights);
    heights.erase(3 * BlockHeights::kChunk - 10, 40);
    heights.rebuild(3 * BlockHeights::kChunk - 10);
    expectConsistent(heights);

    // Down to fewer blocks than one chunk, then none.
    heights.erase(10, heights.size() - 20);
    heights.rebuild(10);
    expectConsistent(heights);
    heights.erase(0, heights.size());
    heights.rebuild(0);
    EXPECT_EQ(heights.total(), 0.0);
    EXPECT_EQ(heights.indexAt(0.0), -1);
}
