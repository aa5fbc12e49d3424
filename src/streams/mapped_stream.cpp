// Reads and seeks in a mapped input, and the choice of how a whole input is held.
#include "streams/mapped_stream.h"

#include <algorithm>
#include <cstring>

#include "streams/buffered_stream.h"

namespace tracemill {

StreamPtr open_whole_input(StreamPtr& file) {
    if (StreamPtr mapped = MappedStream::map(file)) return mapped;
    const int64_t size = stream_size(file.get());
    if (size <= 0) return nullptr;
    if (auto whole = BufferedStream::owning_or_keep(file, static_cast<uint64_t>(size))) return whole;
    return BufferedStream::owning_or_keep(file, std::min<uint64_t>(kFallbackWindowBytes, static_cast<uint64_t>(size)));
}

MappedStream::~MappedStream() { unmap(); }

int64_t MappedStream::read(void* dst, uint64_t count) {
    if (position_ >= size_) return 0;
    const uint64_t n = std::min(count, size_ - position_);
    std::memcpy(dst, bytes_ + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int64_t>(n);
}

int64_t MappedStream::seek(int64_t offset, int32_t whence) {
    int64_t base;
    switch (whence) {
        case kSeekSet:
            base = 0;
            break;
        case kSeekCur:
            base = static_cast<int64_t>(position_);
            break;
        case kSeekEnd:
            base = static_cast<int64_t>(size_);
            break;
        default:
            return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
    position_ = static_cast<uint64_t>(target);
    return target;
}

int32_t MappedStream::close() {
    unmap();
    return stream_close(std::move(file_));
}

}  // namespace tracemill
