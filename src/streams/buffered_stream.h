// A read-only window of `capacity` bytes on an inner stream.
//
// Seeks inside the window and reads that the window can serve are answered
// with plain arithmetic and a memcpy, without touching the inner stream; with
// a window as large as the file, parsing does no file I/O after the first
// read. A window smaller than the stream is cut into slots, each a window that
// moves forward on its own: a reader that takes records from several places
// of a file in turn keeps one slot per place, and a slot is refilled only when
// a read leaves every slot, never because a seek went elsewhere. The end of the buffered data counts as inside the window, and a seek
// to the end of the inner data always succeeds, so the size and trailer of a
// file can be read through a window smaller than the file.
//
// A failed inner read fails the read that needed it, even when some bytes
// were delivered; so does an inner stream whose read ends before the size it
// reports (a file that cannot deliver the bytes it claims to have). Neither
// is ever taken for the end of the data.
#pragma once

#include <cstdint>
#include <memory>

#include "streams/byte_stream.h"
#include "streams/page_memory.h"

namespace tracemill {

class BufferedStream final : public ByteStream {
public:
    ~BufferedStream() override;
    BufferedStream(const BufferedStream&) = delete;
    BufferedStream& operator=(const BufferedStream&) = delete;

    // None when `inner` is null, or the buffer cannot be allocated. The
    // capacity is rounded up to a multiple of 8.
    static std::unique_ptr<BufferedStream> owning(StreamPtr inner, uint64_t capacity);
    static std::unique_ptr<BufferedStream> borrowing(ByteStream* inner, uint64_t capacity);
    // As owning(), but `inner` stays with the caller when none is returned.
    static std::unique_ptr<BufferedStream> owning_or_keep(StreamPtr& inner, uint64_t capacity);

    int64_t read(void* dst, uint64_t count) override;
    int64_t tell() override { return static_cast<int64_t>(buffer_start_ + offset_in_buffer_); }
    int64_t seek(int64_t offset, int32_t whence) override;
    int64_t read_at(uint64_t offset, void* dst, uint64_t count) override;
    // Closes the inner stream when it is owned and returns its result.
    int32_t close() override;

    // The whole inner stream as contiguous bytes, when the window holds all
    // of it from its start (a window as large as the file, once read); none
    // otherwise. Once lent, the window's bytes are never refilled: they stay
    // valid, and the stream keeps answering from them, while it lives.
    const uint8_t* contents(uint64_t& size) override;
    // The window, when contents() would lend it; the stream is then cut off
    // from its inner stream (which closing still closes).
    bool release_contents(PageMemory& area, uint64_t& size) override;

    uint64_t capacity() const { return capacity_; }

private:
    BufferedStream(ByteStream* inner, StreamPtr owned, PageMemory memory, uint64_t capacity, uint32_t slots)
        : inner_(inner), owned_inner_(std::move(owned)), memory_(std::move(memory)), capacity_(capacity),
          slot_count_(slots), slot_capacity_(capacity / slots), window_(memory_.data()) {}
    static constexpr uint32_t kMaxSlots = 32;
    static constexpr uint64_t kMinSlotBytes = 4096;
    struct Slot {
        uint64_t start = 0;
        uint64_t fill = 0;  // 0: holds nothing
        uint64_t last_use = 0;
    };
    static std::unique_ptr<BufferedStream> create(ByteStream* inner, StreamPtr owned, uint64_t capacity);

    // Fills the window from inner position `at`, where the inner stream
    // already stands: the bytes filled, 0 at the end of the inner data, -1
    // when the read failed or ended before the inner stream's size.
    int64_t fill_window(uint64_t at);
    // True, and logged, when the inner stream reports more data than a read
    // that ended at inner position `end` delivered.
    bool ends_early(uint64_t end);
    // Forgets the window's bytes, keeping the position.
    void drop_window();
    // Keeps the active window's state in its slot and leaves no slot active.
    void park_window();
    // Makes the slot holding inner position `at` (with bytes at or after it)
    // the window; false when none holds it.
    bool activate_slot_holding(uint64_t at);
    // The slot a fill at a new place takes: the one just read to its end,
    // else the least recently used.
    uint32_t slot_to_fill() const;
    // Whether the window holds all of [offset, offset + count).
    bool window_holds(uint64_t offset, uint64_t count) const;
    int64_t read_slow(uint8_t* dst, uint64_t count);
    int64_t seek_outside_window(uint64_t target);

    ByteStream* inner_;
    StreamPtr owned_inner_;  // set when closing this stream closes the inner one
    PageMemory memory_;      // the buffer: capacity_ bytes, zeroed at creation
    uint64_t capacity_;
    uint32_t slot_count_;
    uint64_t slot_capacity_;
    uint8_t* window_;      // the active slot's bytes
    int32_t active_ = 0;   // the slot the window fields describe; -1 for none
    uint64_t use_clock_ = 0;
    Slot slots_[kMaxSlots];
    uint64_t fill_ = 0;              // valid bytes in the buffer
    uint64_t offset_in_buffer_ = 0;  // read position inside the buffer
    uint64_t buffer_start_ = 0;      // inner position of the buffer's first byte
    uint64_t lent_size_ = 0;         // size of the inner stream whose bytes were lent; 0 before
    int64_t measured_inner_size_ = -1;  // taken after the last short fill; -1 before one
};

}  // namespace tracemill
