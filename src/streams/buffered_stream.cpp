// The read window on an inner stream, and open_buffered_stream.
#include "streams/buffered_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/log.h"

namespace tracemill {

std::unique_ptr<BufferedStream> BufferedStream::create(ByteStream* inner, StreamPtr owned, uint64_t capacity) {
    if (!inner) return nullptr;
    if (capacity > UINT64_MAX - 7) return nullptr;
    const uint64_t rounded = (capacity + 7) & ~uint64_t{7};
    if (rounded > SIZE_MAX) return nullptr;
    // A window that holds the whole stream is one slot; a smaller one gets
    // as many slots of at least kMinSlotBytes as it has room for.
    const int64_t inner_size = stream_size(inner);
    uint64_t slots = 1;
    if (inner_size < 0 || rounded < static_cast<uint64_t>(inner_size))
        slots = std::clamp<uint64_t>(rounded / kMinSlotBytes, 1, kMaxSlots);
    const uint64_t usable = slots == 1 ? rounded : (rounded / slots) & ~uint64_t{7};
    // A whole-file window is the home of the file's bytes for the whole
    // conversion: fresh zeroed pages, huge ones where the system has them.
    PageMemory memory;
    if (!memory.resize(rounded ? rounded : 1)) return nullptr;
    // An owned inner stream is released with `owned` when this fails.
    auto stream = std::unique_ptr<BufferedStream>(new (std::nothrow) BufferedStream(
        inner, std::move(owned), std::move(memory), rounded, static_cast<uint32_t>(slots)));
    if (stream) stream->slot_capacity_ = usable;
    return stream;
}

std::unique_ptr<BufferedStream> BufferedStream::owning(StreamPtr inner, uint64_t capacity) {
    ByteStream* raw = inner.get();
    return create(raw, std::move(inner), capacity);
}

std::unique_ptr<BufferedStream> BufferedStream::borrowing(ByteStream* inner, uint64_t capacity) {
    return create(inner, nullptr, capacity);
}

std::unique_ptr<BufferedStream> BufferedStream::owning_or_keep(StreamPtr& inner, uint64_t capacity) {
    auto stream = create(inner.get(), nullptr, capacity);
    if (stream) stream->owned_inner_ = std::move(inner);
    return stream;
}

BufferedStream::~BufferedStream() = default;

int64_t BufferedStream::fill_window(uint64_t at) {
    const uint32_t slot = slot_to_fill();
    park_window();
    uint8_t* window = memory_.data() + slot * slot_capacity_;
    int64_t got = stream_read(inner_, window, slot_capacity_);
    if (got >= 0 && static_cast<uint64_t>(got) < slot_capacity_ && ends_early(at + static_cast<uint64_t>(got)))
        got = -1;
    // The slot's old bytes are gone whatever the read did.
    slots_[slot] = Slot{};
    if (got > 0) {
        active_ = static_cast<int32_t>(slot);
        window_ = window;
        slots_[slot].last_use = ++use_clock_;
        buffer_start_ = at;
        fill_ = static_cast<uint64_t>(got);
        offset_in_buffer_ = 0;
    }
    return got;
}

void BufferedStream::park_window() {
    if (active_ >= 0) slots_[active_] = Slot{buffer_start_, fill_, slots_[active_].last_use};
    active_ = -1;
    buffer_start_ += offset_in_buffer_;
    offset_in_buffer_ = 0;
    fill_ = 0;
}

bool BufferedStream::activate_slot_holding(uint64_t at) {
    for (uint32_t i = 0; i < slot_count_; ++i) {
        const Slot& slot = slots_[i];
        // One comparison: below the start wraps around, an empty slot holds nothing.
        if (at - slot.start >= slot.fill || static_cast<int32_t>(i) == active_) continue;
        park_window();
        active_ = static_cast<int32_t>(i);
        window_ = memory_.data() + i * slot_capacity_;
        slots_[i].last_use = ++use_clock_;
        buffer_start_ = slot.start;
        fill_ = slot.fill;
        offset_in_buffer_ = at - slot.start;
        return true;
    }
    return false;
}

uint32_t BufferedStream::slot_to_fill() const {
    if (active_ >= 0) return static_cast<uint32_t>(active_);
    uint32_t oldest = 0;
    for (uint32_t i = 0; i < slot_count_; ++i) {
        if (slots_[i].fill == 0) return i;
        if (slots_[i].last_use < slots_[oldest].last_use) oldest = i;
    }
    return oldest;
}

bool BufferedStream::ends_early(uint64_t end) {
    // Asked only after a short read, which is once per file for a whole-file
    // window; contents() then needs no second look.
    const int64_t size = stream_size(inner_);
    measured_inner_size_ = size;
    if (size < 0 || static_cast<uint64_t>(size) <= end) return false;
    TM_LOG(kError, "Could not read the data beyond offset %llu of %lld bytes", static_cast<unsigned long long>(end),
           static_cast<long long>(size));
    return true;
}

void BufferedStream::drop_window() {
    if (active_ >= 0) slots_[active_] = Slot{};
    active_ = -1;
    buffer_start_ += offset_in_buffer_;
    offset_in_buffer_ = 0;
    fill_ = 0;
}

int64_t BufferedStream::read(void* dst, uint64_t count) {
    const uint64_t available = fill_ - offset_in_buffer_;
    if (count <= available) {
        std::memcpy(dst, window_ + offset_in_buffer_, count);
        offset_in_buffer_ += count;
        return static_cast<int64_t>(count);
    }
    return read_slow(static_cast<uint8_t*>(dst), count);
}

bool BufferedStream::window_holds(uint64_t offset, uint64_t count) const {
    const uint64_t in_window = offset - buffer_start_;  // wraps below the window
    return offset >= buffer_start_ && in_window <= fill_ && count <= fill_ - in_window;
}

int64_t BufferedStream::read_at(uint64_t offset, void* dst, uint64_t count) {
    // Bytes a slot holds are copied out without a seek and a read: the
    // window's, or another slot's, which becomes the window. Reads of data
    // groups that take turns land in their slots in turn.
    if (!window_holds(offset, count) && !(activate_slot_holding(offset) && window_holds(offset, count)))
        return ByteStream::read_at(offset, dst, count);
    const uint64_t in_window = offset - buffer_start_;
    std::memcpy(dst, window_ + in_window, count);
    offset_in_buffer_ = in_window + count;
    return static_cast<int64_t>(count);
}

int64_t BufferedStream::read_slow(uint8_t* dst, uint64_t count) {
    uint64_t delivered = 0;
    while (delivered < count) {
        if (fill_ == offset_in_buffer_) {
            // Lent bytes hold the whole stream: there is nothing beyond them.
            if (lent_size_ != 0) break;
            const uint64_t at = buffer_start_ + offset_in_buffer_;
            if (activate_slot_holding(at)) continue;
            if (stream_seek(inner_, static_cast<int64_t>(at), kSeekSet) < 0) return -1;
            const int64_t filled = fill_window(at);
            if (filled < 0) return -1;
            if (filled == 0) break;
        }
        const uint64_t n = std::min(count - delivered, fill_ - offset_in_buffer_);
        std::memcpy(dst + delivered, window_ + offset_in_buffer_, n);
        offset_in_buffer_ += n;
        delivered += n;
    }
    return static_cast<int64_t>(delivered);
}

int64_t BufferedStream::seek(int64_t offset, int32_t whence) {
    int64_t target;
    switch (whence) {
        case kSeekSet:
            target = offset;
            break;
        case kSeekCur:
            if (__builtin_add_overflow(tell(), offset, &target)) return -1;
            break;
        case kSeekEnd:
            // A failed inner seek leaves the inner position meaningless to us.
            if (stream_seek(inner_, offset, kSeekEnd) < 0) return -1;
            target = stream_tell(inner_);
            break;
        default:
            return -1;
    }
    if (target < 0) return -1;
    const auto at = static_cast<uint64_t>(target);
    if (at >= buffer_start_ && at - buffer_start_ <= fill_) {
        offset_in_buffer_ = at - buffer_start_;
        return target;
    }
    return seek_outside_window(at);
}

int64_t BufferedStream::seek_outside_window(uint64_t target) {
    if (lent_size_ != 0 && target <= lent_size_) {
        // Back from beyond the end: the lent bytes are still the whole stream.
        active_ = 0;
        window_ = memory_.data();
        buffer_start_ = 0;
        fill_ = lent_size_;
        offset_in_buffer_ = target;
        return static_cast<int64_t>(target);
    }
    if (activate_slot_holding(target)) return static_cast<int64_t>(target);
    // The inner stream is asked whether it can stand there; the window is
    // filled only when a read needs bytes from there.
    if (stream_seek(inner_, static_cast<int64_t>(target), kSeekSet) < 0) return -1;
    if (lent_size_ != 0) {
        // Beyond the end of a lent window: stand there without refilling it.
        buffer_start_ = target;
        fill_ = 0;
        offset_in_buffer_ = 0;
        return static_cast<int64_t>(target);
    }
    park_window();
    buffer_start_ = target;
    return static_cast<int64_t>(target);
}

const uint8_t* BufferedStream::contents(uint64_t& size) {
    if (lent_size_ == 0) {
        // A single slot, active or parked by a seek beyond it.
        const uint64_t start = active_ == 0 ? buffer_start_ : slots_[0].start;
        const uint64_t fill = active_ == 0 ? fill_ : slots_[0].fill;
        if (slot_count_ != 1 || start != 0 || fill == 0) return nullptr;
        const int64_t inner_size = measured_inner_size_ >= 0 ? measured_inner_size_ : stream_size(inner_);
        if (inner_size <= 0 || static_cast<uint64_t>(inner_size) != fill) return nullptr;
        lent_size_ = fill;
    }
    size = lent_size_;
    return window_;
}

bool BufferedStream::release_contents(PageMemory& area, uint64_t& size) {
    if (!contents(size)) return false;
    area = std::move(memory_);
    // With no inner stream every read and seek that leaves the (now empty)
    // window fails.
    inner_ = nullptr;
    capacity_ = slot_capacity_ = fill_ = offset_in_buffer_ = buffer_start_ = lent_size_ = 0;
    window_ = nullptr;
    active_ = -1;
    return true;
}

int32_t BufferedStream::close() {
    inner_ = nullptr;
    if (owned_inner_) return stream_close(std::move(owned_inner_));
    return 0;
}

StreamPtr open_buffered_stream(StreamPtr inner, uint64_t capacity) {
    return BufferedStream::owning(std::move(inner), capacity);
}

StreamPtr open_buffered_stream_borrowed(ByteStream* inner, uint64_t capacity) {
    return BufferedStream::borrowing(inner, capacity);
}

}  // namespace tracemill
