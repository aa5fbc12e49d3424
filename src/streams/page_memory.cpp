// Heap areas for small sizes, huge-page-advised mappings for large ones.
#include "streams/page_memory.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/secure_wipe.h"

#if defined(__linux__)
#include <sys/mman.h>
#define TRACEMILL_PAGE_MAPPINGS 1
#endif

namespace tracemill {
namespace {

// Areas from this size on are mapped; their mappings are whole, aligned huge pages.
constexpr uint64_t kHugePage = uint64_t{2} << 20;

#if TRACEMILL_PAGE_MAPPINGS
uint64_t round_to_huge_pages(uint64_t size) { return (size + kHugePage - 1) & ~(kHugePage - 1); }

// A zero-filled mapping of `bytes` (a multiple of kHugePage) that starts on a
// huge page boundary, so that every part of it can be backed by huge pages.
uint8_t* map_aligned(uint64_t bytes) {
    void* raw = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    if (aligned != start) munmap(raw, aligned - start);
    const uintptr_t tail = start + bytes + kHugePage - (aligned + bytes);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    auto* area = reinterpret_cast<uint8_t*>(aligned);
    madvise(area, bytes, MADV_HUGEPAGE);  // advice only: small pages still work
    return area;
}
#endif

}  // namespace

PageMemory::PageMemory(PageMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)),
      secret_(std::exchange(other.secret_, false)) {}

PageMemory& PageMemory::operator=(PageMemory&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
        secret_ = std::exchange(other.secret_, false);
    }
    return *this;
}

void PageMemory::release() {
    // Beyond size_ the area is zeros already (see resize).
    if (secret_ && data_) secure_wipe(data_, size_);
#if TRACEMILL_PAGE_MAPPINGS
    if (mapped_ != 0) munmap(data_, mapped_);
    else
#endif
        std::free(data_);
    data_ = nullptr;
    size_ = mapped_ = 0;
}

bool PageMemory::resize(uint64_t size) {
    if (size == 0) {
        release();
        return true;
    }
    if (size <= size_) {
        // What is given up must read as zero if it is taken back later.
        std::memset(data_ + size, 0, size_ - size);
        size_ = size;
        return true;
    }
    if (size > SIZE_MAX - kHugePage) return false;
#if TRACEMILL_PAGE_MAPPINGS
    if (mapped_ != 0 && size <= mapped_) {  // the mapping beyond size_ is still untouched zeros
        size_ = size;
        return true;
    }
    if (size >= kHugePage) {
        const uint64_t bytes = round_to_huge_pages(size);
        uint8_t* area = map_aligned(bytes);
        if (!area) return false;
        if (mapped_ != 0) {
            // Move the old pages instead of copying them: the old and the new
            // area are never resident together.
            // Moved pages leave no copy behind, so secrets need nothing more.
            void* moved = mremap(data_, mapped_, mapped_, MREMAP_MAYMOVE | MREMAP_FIXED, area);
            if (moved == MAP_FAILED) {
                std::memcpy(area, data_, size_);
                if (secret_) secure_wipe(data_, size_);
                munmap(data_, mapped_);
            }
        } else if (data_) {
            std::memcpy(area, data_, size_);
            if (secret_) secure_wipe(data_, size_);
            std::free(data_);
        }
        data_ = area;
        size_ = size;
        mapped_ = bytes;
        return true;
    }
#endif
    if (secret_) return grow_heap_wiping(size);
    void* grown = std::realloc(data_, size);
    if (!grown) return false;
    data_ = static_cast<uint8_t*>(grown);
    std::memset(data_ + size_, 0, size - size_);
    size_ = size;
    return true;
}

bool PageMemory::grow_heap_wiping(uint64_t size) {
    auto* grown = static_cast<uint8_t*>(std::malloc(size));
    if (!grown) return false;
    if (data_) {
        std::memcpy(grown, data_, size_);
        secure_wipe(data_, size_);
        std::free(data_);
    }
    std::memset(grown + size_, 0, size - size_);
    data_ = grown;
    size_ = size;
    return true;
}

}  // namespace tracemill
