#pragma once
// Large blocks straight from the system in huge pages where the system
// offers them: a block of several hundred megabytes then costs a few hundred
// page faults instead of a few hundred thousand, which on a virtual machine
// can take longer than filling it. The pages read as zero until written.
#include <cstddef>
#include <cstdint>

namespace pwmemory {

// Blocks from this size on are worth mapping.
constexpr size_t MappedFrom = size_t(1) << 20;

// Null when the system refuses the mapping (or in the sanitizer build, which
// keeps everything on the heap where overruns are caught). With prefault, a
// thread of its own makes every page of the block present (the system zeroes
// it) while the caller goes on and writes into it: for a block that is about
// to be filled, on a second processor core. Unmapping stops that thread
// after the 32 MB piece it is at and waits for it.
uint8_t* MapLargeBlock(size_t size, bool prefault = false);
void UnmapLargeBlock(void* block);

// An allocator for containers that grow large: mapped blocks from
// MappedFrom on, the heap below that.
template <class T>
struct TLargeAllocator {
    using value_type = T;
    TLargeAllocator() = default;
    template <class U>
    TLargeAllocator(const TLargeAllocator<U>&)
    {
    }
    T* allocate(size_t n);
    void deallocate(T* p, size_t n);
    bool operator==(const TLargeAllocator&) const { return true; }
};

} // namespace pwmemory
