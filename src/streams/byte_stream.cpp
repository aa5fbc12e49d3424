// The generic operations on any byte stream: close, size and copy.
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

int64_t stream_copy(ByteStream* source, ByteStream* destination) {
    if (!source || !destination) return 0;
    uint8_t chunk[4096];
    int64_t copied = 0;
    for (;;) {
        const int64_t got = stream_read(source, chunk, sizeof chunk);
        if (got == 0 || got == kStreamAbsent) return copied;
        if (got < 0) return -1;
        const int64_t put = stream_write(destination, chunk, static_cast<uint64_t>(got));
        if (put != got && put != kStreamAbsent) return -1;
        copied += got;
    }
}

}  // namespace tracemill
