// Zero-filled byte areas for whole files held in memory.
//
// A converted file is read, decompressed or decrypted into one contiguous
// area that the MDF4 reader then walks by pointer. Areas of a few MiB and
// more are mapped directly and offered huge pages: with small pages, filling
// and walking tens of MB costs a page fault and TLB misses every 4 KiB, which
// on virtual machines is a large share of a whole conversion. Small areas
// come from the heap, so many small files cost no extra system calls.
//
// An area that holds secrets is wiped before any of its memory goes back to
// the system, and grows by allocating, copying and wiping instead of letting
// realloc leave an unwiped copy behind; other areas pay nothing for this.
#pragma once

#include <cstdint>

namespace tracemill {

class PageMemory {
public:
    PageMemory() = default;
    ~PageMemory() { release(); }
    PageMemory(PageMemory&& other) noexcept;
    PageMemory& operator=(PageMemory&& other) noexcept;
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;

    // Makes room for `size` bytes, keeping the first min(old, new) bytes;
    // bytes beyond the old size read as zero. False, and nothing changed, when
    // the memory cannot be had. A size of 0 releases the area.
    bool resize(uint64_t size);

    uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

    // Marks the area as holding secrets, for the rest of its life.
    void hold_secrets() { secret_ = true; }
    bool holds_secrets() const { return secret_; }

private:
    void release();
    // Moves the heap area to a fresh one of `size` bytes, wiping the old one.
    bool grow_heap_wiping(uint64_t size);

    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t mapped_ = 0;  // bytes of the mapping behind data_; 0 when on the heap
    bool secret_ = false;  // wipe before giving memory back
};

}  // namespace tracemill
