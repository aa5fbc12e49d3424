// Zero-filled byte areas for whole files held in memory.
//
// A converted file is read, decompressed or decrypted into one contiguous
// area that the MDF4 reader then walks by pointer. Areas of a few MiB and
// more are mapped directly and offered huge pages: with small pages, filling
// and walking tens of MB costs a page fault and TLB misses every 4 KiB, which
// on virtual machines is a large share of a whole conversion. Small areas
// come from the heap, so many small files cost no extra system calls.
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

private:
    void release();

    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t mapped_ = 0;  // bytes of the mapping behind data_; 0 when on the heap
};

}  // namespace tracemill
