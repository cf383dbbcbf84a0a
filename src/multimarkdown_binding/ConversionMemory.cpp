#include "multimarkdown_binding/ConversionMemory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define LUMORA_MEMORY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMORA_MEMORY_ASAN 1
#endif
#endif

#if defined(LUMORA_MEMORY_ASAN)
#include <sanitizer/asan_interface.h>
#define LUMORA_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define LUMORA_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define LUMORA_POISON(address, size) ((void)(address), (void)(size))
#define LUMORA_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace lumora::dialect {

namespace {

thread_local ConversionMemory* currentMemory = nullptr;

// Each block is preceded by a word holding its capacity, with the highest
// bit set for a large block; the block itself is 8-aligned, as everything
// cmark keeps (pointers, integers, bytes) needs.
constexpr size_t wordSize = sizeof(uint64_t);
constexpr uint64_t largeBit = uint64_t(1) << 63;
constexpr size_t granule = 16;
constexpr size_t smallLimit = 1024; // the largest small block
// Under the C library's threshold for giving a block a mapping of its own
// (128 KB), so that slabs come from its heap as cmark's own nodes do: on
// slabs of 256 KB, each mapped apart, a walk up a tree thousands deep (cmark
// makes one for every node it adds to a paragraph) ran several times
// slower.
constexpr size_t slabSize = 64 * 1024;
#if defined(LUMORA_MEMORY_ASAN)
constexpr bool sanitized = true;
constexpr size_t gap = 16; // poisoned, after each small block
#else
constexpr bool sanitized = false;
constexpr size_t gap = 0;
#endif

// The slabs of the conversions that ended on a thread, kept (up to a few
// megabytes) for the next one: the preview converts the same text again and
// again, and fresh memory costs the system a page fault a page.
class SlabPool {
public:
    static constexpr size_t limit = 128; // 8 MB

    ~SlabPool()
    {
        for (char* slab : slabs_) std::free(slab);
    }

    char* take()
    {
        if (slabs_.empty()) return static_cast<char*>(std::malloc(slabSize));
        char* slab = slabs_.back();
        slabs_.pop_back();
        return slab;
    }

    void give(char* slab)
    {
        if (slabs_.size() < limit) slabs_.push_back(slab);
        else std::free(slab);
    }

private:
    std::vector<char*> slabs_;
};

thread_local SlabPool slabPool;

uint64_t& wordOf(void* block)
{
    return *reinterpret_cast<uint64_t*>(static_cast<char*>(block) - wordSize);
}

size_t roundedUp(size_t size)
{
    return (size + granule - 1) / granule * granule;
}

} // namespace

// A large block from the general heap, linked to the others so that all go
// with the memory.
struct ConversionMemory::Large {
    Large* previous;
    Large* next;
    uint64_t word;
};

ConversionMemory::ConversionMemory() : previous_(currentMemory)
{
    static_assert(sizeof(Large) % wordSize == 0, "blocks after the link stay aligned");
    currentMemory = this;
}

ConversionMemory::~ConversionMemory()
{
    for (Large* large = large_; large;) {
        Large* next = large->next;
        std::free(large);
        large = next;
    }
    for (char* slab : slabs_) {
        LUMORA_UNPOISON(slab, slabSize);
        slabPool.give(slab);
    }
    currentMemory = previous_;
}

cmark_mem* ConversionMemory::allocator()
{
    static cmark_mem functions{allocate, reallocate, release};
    return currentMemory ? &functions : cmark_get_default_mem_allocator();
}

void* ConversionMemory::allocate(size_t count, size_t size)
{
    size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) return nullptr;
    // A block of this memory met outside its conversion is a fault of ours:
    // stop rather than corrupt another heap.
    ConversionMemory* const memory = currentMemory;
    if (!memory) std::abort();
    return memory->take(total, true);
}

void* ConversionMemory::reallocate(void* pointer, size_t size)
{
    if (!currentMemory) std::abort();
    return currentMemory->resize(pointer, size);
}

void ConversionMemory::release(void* pointer)
{
    if (!pointer) return;
    if (!currentMemory) std::abort();
    currentMemory->give(pointer);
}

void* ConversionMemory::take(size_t size, bool zeroed)
{
    if (size > smallLimit) {
        void* block = takeLarge(size);
        if (block && zeroed) std::memset(block, 0, size);
        return block;
    }
    void* block = takeSmall(roundedUp(size == 0 ? 1 : size));
    if (!block) return nullptr;
    if (sanitized) {
        // Precisely the bytes asked for are usable.
        LUMORA_POISON(block, roundedUp(size == 0 ? 1 : size));
        LUMORA_UNPOISON(block, size);
        wordOf(block) = size;
    }
    if (zeroed) std::memset(block, 0, size);
    return block;
}

void* ConversionMemory::takeSmall(size_t capacity)
{
    void*& freed = freeBlocks_[capacity / granule];
    if (freed) {
        void* block = freed;
        freed = *static_cast<void**>(block);
        return block;
    }
    const size_t needed = wordSize + capacity + gap;
    if (size_t(end_ - cursor_) < needed && !newSlab()) return nullptr;
    LUMORA_UNPOISON(cursor_, wordSize + capacity);
    void* block = cursor_ + wordSize;
    lastBlock_ = cursor_;
    cursor_ += needed;
    wordOf(block) = capacity;
    return block;
}

bool ConversionMemory::newSlab()
{
    char* slab = slabPool.take();
    if (!slab) return false;
    slabs_.push_back(slab);
    LUMORA_POISON(slab, slabSize);
    cursor_ = slab;
    end_ = slab + slabSize;
    return true;
}

void* ConversionMemory::takeLarge(size_t size)
{
    auto* large = static_cast<Large*>(std::malloc(sizeof(Large) + size));
    if (!large) return nullptr;
    large->previous = nullptr;
    large->next = large_;
    large->word = uint64_t(size) | largeBit;
    if (large_) large_->previous = large;
    large_ = large;
    return large + 1;
}

void* ConversionMemory::resize(void* pointer, size_t size)
{
    if (!pointer) return take(size, false);
    const uint64_t word = wordOf(pointer);
    if (word & largeBit) {
        if (size <= smallLimit) size = smallLimit + 1; // stays large
        Large* large = static_cast<Large*>(pointer) - 1;
        Large* moved = static_cast<Large*>(std::realloc(large, sizeof(Large) + size));
        if (!moved) return nullptr;
        moved->word = uint64_t(size) | largeBit;
        if (moved->previous) moved->previous->next = moved;
        else large_ = moved;
        if (moved->next) moved->next->previous = moved;
        return moved + 1;
    }
    // Under AddressSanitizer the word holds the size asked for, and a block
    // always moves.
    const size_t capacity = size_t(word);
    if (!sanitized && size <= capacity) return pointer;
    // The block cut last grows into the free space after it.
    char* start = static_cast<char*>(pointer) - wordSize;
    if (!sanitized && start == lastBlock_ && size <= smallLimit) {
        const size_t grown = roundedUp(size);
        if (size_t(end_ - cursor_) >= grown - capacity) {
            cursor_ += grown - capacity;
            wordOf(pointer) = grown;
            return pointer;
        }
    }
    void* moved = take(size, false);
    if (!moved) return nullptr;
    std::memcpy(moved, pointer, std::min(capacity, size));
    give(pointer);
    return moved;
}

void ConversionMemory::give(void* pointer)
{
    const uint64_t word = wordOf(pointer);
    if (word & largeBit) {
        Large* large = static_cast<Large*>(pointer) - 1;
        if (large->previous) large->previous->next = large->next;
        else large_ = large->next;
        if (large->next) large->next->previous = large->previous;
        std::free(large);
        return;
    }
    const size_t capacity = size_t(word);
    if (sanitized) {
        // Never reused: a read after the free is caught whenever it comes.
        LUMORA_POISON(pointer, roundedUp(capacity == 0 ? 1 : capacity));
        return;
    }
    char* start = static_cast<char*>(pointer) - wordSize;
    if (start == lastBlock_) {
        cursor_ = start;
        lastBlock_ = nullptr;
        return;
    }
    void*& freed = freeBlocks_[capacity / granule];
    *static_cast<void**>(pointer) = freed;
    freed = pointer;
}

} // namespace lumora::dialect
