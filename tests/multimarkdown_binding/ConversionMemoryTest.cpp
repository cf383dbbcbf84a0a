// The memory a conversion hands cmark-gfm: blocks as calloc, realloc and
// free promise them (zeroed, kept across a move, never overlapping), on the
// thread whose conversion it is, and a tree parsed and written from it as
// from the general heap.
#include "multimarkdown_binding/ConversionMemory.h"

#include <gtest/gtest.h>

#include <cmark-gfm.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace lumora::dialect {
namespace {

struct Block {
    unsigned char* data = nullptr;
    size_t size = 0;
    unsigned char fill = 0;
};

void fill(Block& block, unsigned char value)
{
    block.fill = value;
    if (block.size > 0) std::memset(block.data, value, block.size);
}

bool holds(const Block& block)
{
    for (size_t i = 0; i < block.size; ++i)
        if (block.data[i] != block.fill) return false;
    return true;
}

bool isZero(const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

TEST(ConversionMemory, IsCurrentOnItsThreadOnlyWhileItLives)
{
    cmark_mem* const heap = cmark_get_default_mem_allocator();
    EXPECT_EQ(ConversionMemory::allocator(), heap);
    {
        ConversionMemory outer;
        cmark_mem* const mine = ConversionMemory::allocator();
        EXPECT_NE(mine, heap);
        void* kept = mine->calloc(1, 40);
        {
            // A conversion within a conversion has memory of its own, and
            // the outer one is current again after it.
            ConversionMemory inner;
            void* inside = ConversionMemory::allocator()->calloc(1, 40);
            ConversionMemory::allocator()->free(inside);
        }
        EXPECT_EQ(ConversionMemory::allocator(), mine);
        std::thread([heap] { EXPECT_EQ(ConversionMemory::allocator(), heap); }).join();
        mine->free(kept);
    }
    EXPECT_EQ(ConversionMemory::allocator(), heap);
}

TEST(ConversionMemory, BlocksAreZeroedKeptAcrossMovesAndNeverOverlap)
{
    ConversionMemory memory;
    cmark_mem* const mem = ConversionMemory::allocator();
    std::mt19937 random(26);
    std::vector<Block> blocks;
    // Sizes around the small blocks' classes and past them into large ones.
    const std::vector<size_t> sizes = {0, 1, 7, 8, 15, 16, 17, 100, 1000, 1023, 1024, 1025, 4096, 70000};
    for (int step = 0; step < 20000; ++step) {
        const unsigned choice = random() % 10;
        if (choice < 4 || blocks.empty()) {
            Block block;
            block.size = sizes[random() % sizes.size()] + (random() % 3);
            block.data = static_cast<unsigned char*>(mem->calloc(1, block.size));
            ASSERT_NE(block.data, nullptr);
            ASSERT_TRUE(isZero(block.data, block.size)) << "calloc of " << block.size;
            fill(block, static_cast<unsigned char>(1 + random() % 250));
            blocks.push_back(block);
        } else if (choice < 7) {
            // Grown or shrunk: what fits stays.
            Block& block = blocks[random() % blocks.size()];
            const size_t size = block.size > 100000 || random() % 3 == 0 ? block.size / 2 : block.size * 2 + 1 + random() % 100;
            ASSERT_TRUE(holds(block));
            block.data = static_cast<unsigned char*>(mem->realloc(block.data, size));
            ASSERT_NE(block.data, nullptr);
            block.size = std::min(block.size, size);
            ASSERT_TRUE(holds(block)) << "realloc to " << size;
            block.size = size;
            fill(block, block.fill);
        } else {
            const size_t index = random() % blocks.size();
            ASSERT_TRUE(holds(blocks[index])) << "a block was overwritten by another";
            mem->free(blocks[index].data);
            blocks[index] = blocks.back();
            blocks.pop_back();
        }
    }
    for (const Block& block : blocks) EXPECT_TRUE(holds(block));
    // Freeing nothing is allowed, as with free.
    mem->free(nullptr);
    // realloc of nothing allocates.
    void* fresh = mem->realloc(nullptr, 24);
    ASSERT_NE(fresh, nullptr);
    mem->free(fresh);
}

TEST(ConversionMemory, ReusedBlocksAreZeroedAgain)
{
    ConversionMemory memory;
    cmark_mem* const mem = ConversionMemory::allocator();
    for (size_t size : {size_t(24), size_t(200), size_t(5000)}) {
        void* first = mem->calloc(1, size);
        void* second = mem->calloc(1, size); // so that the first is not the last cut
        std::memset(first, 0xAB, size);
        mem->free(first);
        void* again = mem->calloc(size, 1);
        EXPECT_TRUE(isZero(again, size)) << size;
        mem->free(again);
        mem->free(second);
    }
}

TEST(ConversionMemory, TheMemoryOfAnEndedConversionComesBackZeroed)
{
    // The next conversion on the thread may be given the same slabs.
    for (int conversion = 0; conversion < 3; ++conversion) {
        ConversionMemory memory;
        cmark_mem* const mem = ConversionMemory::allocator();
        for (int i = 0; i < 20000; ++i) {
            const size_t size = 8 + size_t(i % 50) * 8;
            void* block = mem->calloc(1, size);
            ASSERT_TRUE(isZero(block, size)) << "conversion " << conversion << ", block " << i;
            std::memset(block, 0xCD, size);
        }
    }
}

TEST(ConversionMemory, AnOverflowingCountGivesNothing)
{
    ConversionMemory memory;
    EXPECT_EQ(ConversionMemory::allocator()->calloc(SIZE_MAX / 2, 4), nullptr);
}

// cmark's whole life cycle in the memory, on several threads at once, each
// with its own: the same HTML as from the general heap.
TEST(ConversionMemory, CmarkParsesAndWritesFromItOnSeveralThreads)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "# Part " + std::to_string(i) + "\n\nSome *emphasis*, `code` and a [link](http://x.org/" + std::to_string(i)
            + ").\n\n- one\n- two\n\n> quoted " + std::string(size_t(i) * 7, 'w') + "\n\n";
    auto render = [&text] {
        cmark_parser* parser = cmark_parser_new_with_mem(CMARK_OPT_DEFAULT, ConversionMemory::allocator());
        cmark_parser_feed(parser, text.data(), text.size());
        cmark_node* root = cmark_parser_finish(parser);
        char* html = cmark_render_html(root, CMARK_OPT_DEFAULT, nullptr);
        std::string result(html);
        ConversionMemory::allocator()->free(html);
        cmark_node_free(root);
        cmark_parser_free(parser);
        return result;
    };
    const std::string expected = render();
    ASSERT_NE(expected.find("<h1>Part 299</h1>"), std::string::npos);

    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                ConversionMemory memory;
                results[t] = render();
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (const std::string& result : results) EXPECT_EQ(result, expected);
}

} // namespace
} // namespace lumora::dialect
