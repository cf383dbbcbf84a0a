#pragma once

#include <cmark-gfm.h>

#include <array>
#include <cstddef>
#include <vector>

namespace lumora::dialect {

// The memory of one conversion: cmark-gfm's parsers, trees and buffers and
// every node the conversion makes take their memory from here, and it all
// goes at once when the conversion ends, instead of node by node.
//
// A tree of a long document is millions of small blocks. From the general
// heap each costs a call with its locks and bookkeeping to take and another
// to give back, and lies wherever the heap had room; here small blocks are
// cut one after another from large slabs (a paragraph's nodes lie side by
// side, in the order cmark reads them), freed blocks are reused by size,
// and the trees need no walk to be freed. Large blocks (the text of a long
// paragraph, the HTML being written) come from the general heap and grow
// there. A few megabytes of slabs stay with the thread for its next
// conversion (the preview converts the same text again and again).
//
// cmark's allocator has no context, so the memory of the conversion running
// on a thread is found through that thread: one is current from its
// construction to its destruction, and every conversion lives on one thread.
// Under AddressSanitizer freed blocks are poisoned and never reused, and each
// block is followed by a poisoned gap, so that a read past a block or after
// its free is still caught.
class ConversionMemory {
public:
    ConversionMemory();
    ~ConversionMemory();

    ConversionMemory(const ConversionMemory&) = delete;
    ConversionMemory& operator=(const ConversionMemory&) = delete;

    // The allocator to hand cmark: that of the memory current on this thread,
    // or cmark's default one when none is.
    static cmark_mem* allocator();

private:
    struct Large;

    static void* allocate(size_t count, size_t size);
    static void* reallocate(void* pointer, size_t size);
    static void release(void* pointer);

    void* take(size_t size, bool zeroed);
    void* takeSmall(size_t capacity);
    [[gnu::noinline]] bool newSlab();
    void* takeLarge(size_t size);
    void* resize(void* pointer, size_t size);
    void give(void* pointer);

    ConversionMemory* previous_;
    std::vector<char*> slabs_;
    char* cursor_ = nullptr; // the free space of the last slab
    char* end_ = nullptr;
    char* lastBlock_ = nullptr; // the block cut last, which may grow in place
    Large* large_ = nullptr;    // the large blocks, linked
    // Freed small blocks by capacity, a list each (linked through their
    // first bytes).
    std::array<void*, 65> freeBlocks_{};
};

// A node of type in the memory of the current conversion.
inline cmark_node* newNode(cmark_node_type type)
{
    return cmark_node_new_with_mem(type, ConversionMemory::allocator());
}

} // namespace lumora::dialect
