// A growable in-memory byte area used as a stream: the home of decompressed
// and decrypted file content, which the MDF4 reader then seeks in freely.
//
// Growth never throws: when the area cannot be enlarged, write returns -1 and
// the stream is left as it was, so callers can report running out of memory.
// A stream marked as holding secrets (decrypted plaintext) wipes every byte
// it gives back to the system, old areas left behind by growth included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "streams/byte_stream.h"
#include "streams/page_memory.h"

namespace tracemill {

class MemoryStream final : public ByteStream {
public:
    MemoryStream() = default;
    MemoryStream(PageMemory memory, uint64_t size) : memory_(std::move(memory)), size_(size) {}
    ~MemoryStream() override;
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    int64_t read(void* dst, uint64_t count) override;
    int64_t write(const void* src, uint64_t count) override;
    int64_t tell() override { return static_cast<int64_t>(position_); }
    // Targets from 0 up to the capacity are accepted (also from the end with a
    // positive offset); reads beyond the size deliver nothing.
    int64_t seek(int64_t offset, int32_t whence) override;
    int32_t close() override;
    // The meaningful bytes; none once closed.
    const uint8_t* contents(uint64_t& size) override {
        size = size_;
        return memory_.data();
    }
    // Leaves the stream empty, as a new one that keeps holding secrets if
    // it did; it can be written again.
    bool release_contents(PageMemory& area, uint64_t& size) override;

    // From now on every byte given back is wiped first; set before writing.
    void hold_secrets() { memory_.hold_secrets(); }
    bool holds_secrets() const { return memory_.holds_secrets(); }

    // The meaningful bytes: [data(), data() + size()).
    const uint8_t* data() const { return memory_.data(); }
    uint64_t size() const { return size_; }
    uint64_t capacity() const { return memory_.size(); }

private:
    bool grow_to_hold(uint64_t end);

    PageMemory memory_;  // the capacity; zero beyond size_
    uint64_t size_ = 0;  // highest position ever reached by a write
    uint64_t position_ = 0;
};

// An empty stream; none when the object cannot be allocated.
std::unique_ptr<MemoryStream> memory_stream_new();

// A stream holding a copy of `n` bytes, positioned at 0; none on allocation failure.
std::unique_ptr<MemoryStream> memory_stream_from(const void* bytes, size_t n);

// A stream that takes over `area`, whose first `size` bytes (at most its size)
// are the content and the rest zeros, positioned at 0. A secret area stays
// secret. None when `size` exceeds the area or the object cannot be allocated
// (the area is released then).
std::unique_ptr<MemoryStream> memory_stream_adopt(PageMemory area, uint64_t size);

}  // namespace tracemill
