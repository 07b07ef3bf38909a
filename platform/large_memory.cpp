#include "platform/large_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define PW_LARGE_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PW_LARGE_ON_HEAP 1
#endif
#endif

// Older system headers lack it; older kernels refuse it, which leaves the
// pages to come as they are written.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace pwmemory {

namespace {

constexpr size_t HugePage = size_t(2) << 20;

// Makes the pages of a block present a piece at a time, so that a block
// released early (a decode that failed) waits for one piece at most.
class TPrefault {
public:
    TPrefault(uint8_t* block, size_t size)
        : FThread([this, block, size] {
              for (size_t done = 0; done < size && !FStop.load(std::memory_order_relaxed); done += Piece)
                  madvise(block + done, std::min(Piece, size - done), MADV_POPULATE_WRITE);
          })
    {
    }
    ~TPrefault()
    {
        FStop.store(true, std::memory_order_relaxed);
        FThread.join();
    }

private:
    static constexpr size_t Piece = size_t(32) << 20;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

struct TMapping {
    void* Base;
    size_t Length;
    TPrefault* Prefault;
};

} // namespace

// The block starts on a huge-page boundary; the mapping's base and length
// lie just before it.
uint8_t* MapLargeBlock([[maybe_unused]] size_t size, [[maybe_unused]] bool prefault)
{
#if defined(PW_LARGE_ON_HEAP)
    return nullptr;
#else
    if (size > std::numeric_limits<size_t>::max() - 3 * HugePage)
        return nullptr;
    // Room for the alignment (at most one huge page, as the base is
    // page-aligned) and for rounding the advised range up to whole huge pages.
    const size_t length = size + 2 * HugePage;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    const uintptr_t first = reinterpret_cast<uintptr_t>(base) + sizeof(TMapping);
    auto* block = reinterpret_cast<uint8_t*>((first + HugePage - 1) & ~uintptr_t(HugePage - 1));
    const size_t advised = (size + HugePage - 1) & ~(HugePage - 1);
#ifdef MADV_HUGEPAGE
    madvise(block, advised, MADV_HUGEPAGE);
#endif
    // Where the system cannot populate (before Linux 5.14) or no thread can
    // be had, the pages come as the caller writes them.
    TPrefault* populate = nullptr;
    if (prefault) {
        try {
            populate = new TPrefault(block, advised);
        } catch (...) {
            populate = nullptr;
        }
    }
    *reinterpret_cast<TMapping*>(block - sizeof(TMapping)) = TMapping{base, length, populate};
    return block;
#endif
}

void UnmapLargeBlock(void* block)
{
    if (!block)
        return;
    const TMapping mapping = *reinterpret_cast<const TMapping*>(static_cast<uint8_t*>(block) - sizeof(TMapping));
    delete mapping.Prefault;
    munmap(mapping.Base, mapping.Length);
}

template <class T>
T* TLargeAllocator<T>::allocate(size_t n)
{
    if (n > std::numeric_limits<size_t>::max() / sizeof(T))
        throw std::bad_alloc();
    const size_t bytes = n * sizeof(T);
#if !defined(PW_LARGE_ON_HEAP)
    if (bytes >= MappedFrom) {
        if (uint8_t* block = MapLargeBlock(bytes))
            return reinterpret_cast<T*>(block);
        throw std::bad_alloc();
    }
#endif
    if (void* p = std::malloc(bytes ? bytes : 1))
        return static_cast<T*>(p);
    throw std::bad_alloc();
}

template <class T>
void TLargeAllocator<T>::deallocate(T* p, [[maybe_unused]] size_t n)
{
#if !defined(PW_LARGE_ON_HEAP)
    if (n * sizeof(T) >= MappedFrom) {
        UnmapLargeBlock(p);
        return;
    }
#endif
    std::free(p);
}

template struct TLargeAllocator<uint8_t>;

} // namespace pwmemory
