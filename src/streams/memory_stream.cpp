// The growable in-memory stream.
#include "streams/memory_stream.h"

#include <cstring>
#include <new>
#include <utility>

namespace tracemill {

MemoryStream::~MemoryStream() = default;

bool MemoryStream::grow_to_hold(uint64_t end) {
    // Doubling keeps appending a whole decompressed file linear in its size.
    uint64_t capacity = memory_.size();
    while (capacity < end) {
        if (capacity > UINT64_MAX / 2) return false;
        capacity = capacity == 0 ? 2 : capacity * 2;
    }
    if (capacity > SIZE_MAX) return false;
    return memory_.resize(capacity);
}

int64_t MemoryStream::read(void* dst, uint64_t count) {
    if (position_ >= size_) return 0;
    const uint64_t n = count < size_ - position_ ? count : size_ - position_;
    std::memcpy(dst, memory_.data() + position_, n);
    position_ += n;
    return static_cast<int64_t>(n);
}

int64_t MemoryStream::write(const void* src, uint64_t count) {
    if (count == 0) return 0;
    if (count > static_cast<uint64_t>(INT64_MAX) || count > UINT64_MAX - position_) return -1;
    if (memory_.size() - position_ < count && !grow_to_hold(position_ + count)) return -1;
    // A write after a seek beyond the size leaves zeros in the gap: the area
    // beyond the size has never been written.
    std::memcpy(memory_.data() + position_, src, count);
    position_ += count;
    if (size_ < position_) size_ = position_;
    return static_cast<int64_t>(count);
}

int64_t MemoryStream::seek(int64_t offset, int32_t whence) {
    int64_t base;
    switch (whence) {
        case kSeekSet: base = 0; break;
        case kSeekCur: base = static_cast<int64_t>(position_); break;
        case kSeekEnd: base = static_cast<int64_t>(size_); break;
        default: return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) return -1;
    if (target < 0 || static_cast<uint64_t>(target) > memory_.size()) return -1;
    position_ = static_cast<uint64_t>(target);
    return target;
}

bool MemoryStream::release_contents(PageMemory& area, uint64_t& size) {
    const bool secret = memory_.holds_secrets();
    area = std::move(memory_);
    if (secret) memory_.hold_secrets();  // what is written later is as secret
    size = size_;
    size_ = position_ = 0;
    return true;
}

int32_t MemoryStream::close() {
    memory_.resize(0);
    size_ = position_ = 0;
    return 0;
}

std::unique_ptr<MemoryStream> memory_stream_new() {
    return std::unique_ptr<MemoryStream>(new (std::nothrow) MemoryStream());
}

std::unique_ptr<MemoryStream> memory_stream_adopt(PageMemory area, uint64_t size) {
    if (size > area.size()) return nullptr;
    return std::unique_ptr<MemoryStream>(new (std::nothrow) MemoryStream(std::move(area), size));
}

std::unique_ptr<MemoryStream> memory_stream_from(const void* bytes, size_t n) {
    auto stream = memory_stream_new();
    if (!stream) return nullptr;
    if (n > 0 && stream_write(stream.get(), bytes, n) != static_cast<int64_t>(n)) return nullptr;
    stream_seek(stream.get(), 0, kSeekSet);
    return stream;
}

}  // namespace tracemill
