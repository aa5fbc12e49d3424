// The generic operations on any byte stream: close, size and reading fully.
#include "streams/byte_stream.h"

#include <cstdint>

namespace tracemill {

int32_t stream_close(StreamPtr stream) {
    if (!stream) return 0;
    return stream->close();  // the object goes with `stream` whatever the result
}

int64_t stream_size(ByteStream* stream) {
    if (!stream) return -1;
    const int64_t position = stream_tell(stream);
    if (position < 0) return position;
    const int64_t moved = stream_seek(stream, 0, kSeekEnd);
    if (moved == kStreamAbsent) return position;
    if (moved < 0) return -1;
    const int64_t size = stream_tell(stream);
    stream_seek(stream, position, kSeekSet);
    return size;
}

int64_t ByteStream::read_at(uint64_t offset, void* dst, uint64_t count) {
    const auto at = static_cast<int64_t>(offset);
    if (at < 0 || seek(at, kSeekSet) != at) return -1;
    return stream_read_fully(this, dst, count);
}

int64_t stream_read_fully(ByteStream* stream, void* dst, uint64_t count) {
    auto* bytes = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    while (done < count) {
        const int64_t got = stream_read(stream, bytes + done, count - done);
        if (got == 0) break;
        if (got < 0) return -1;
        done += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(done);
}

}  // namespace tracemill
