// The view on a byte range of a borrowed stream, and range_stream_new.
#include "streams/range_stream.h"

#include <new>

namespace tracemill {

int64_t RangeStream::read(void* dst, uint64_t count) {
    if (has_end()) {
        const int64_t at = stream_tell(inner_);
        if (at < 0) return -1;
        if (at >= end_) return 0;
        const auto left = static_cast<uint64_t>(end_ - at);
        if (count > left) count = left;
    }
    return stream_read(inner_, dst, count);
}

int64_t RangeStream::tell() {
    const int64_t at = stream_tell(inner_);
    if (at < 0) return -1;
    const int64_t relative = at - start_;
    if (has_end() && relative > end_ - start_) return -1;
    return relative;
}

int64_t RangeStream::seek(int64_t offset, int32_t whence) {
    int64_t base;
    switch (whence) {
        case kSeekSet:
            base = start_;
            break;
        case kSeekCur:
            base = stream_tell(inner_);
            break;
        case kSeekEnd:
            base = has_end() ? end_ : stream_size(inner_);
            break;
        default:
            return -1;
    }
    // Without a known inner position or size there is no target to go to.
    if (base < 0) return -1;
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) return -1;
    if (has_end() && target > end_) target = end_;
    if (target < start_) target = start_;
    if (target < 0) return -1;
    if (stream_seek(inner_, target, kSeekSet) != target) return -1;
    return target - start_;
}

StreamPtr range_stream_new(ByteStream* inner, int64_t start, int64_t end) {
    if (!inner) return nullptr;
    StreamPtr stream(new (std::nothrow) RangeStream(inner, start, end));
    if (stream) stream_seek(inner, start, kSeekSet);
    return stream;
}

}  // namespace tracemill
