// Positioned reads of stored fields (container headers, MDF4 blocks).
//
// Every field seeks to start + offset before it reads, so several readers can
// work on one stream at different places without disturbing each other. A
// field succeeds only when all its bytes arrive from the intended place;
// otherwise the offset stays where it was (a failed integer field leaves its
// destination untouched; read_bytes may have filled part of its buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "streams/byte_stream.h"

namespace tracemill {

class FieldReader {
public:
    // A reader whose fields start at the stream's current position.
    static FieldReader at(ByteStream* stream) { return FieldReader(stream, stream_tell(stream)); }

    // Little-endian unsigned fields; signed and floating-point fields are
    // read with the unsigned read of the same width and reinterpreted.
    bool read_u8(uint8_t& value);
    bool read_u16(uint16_t& value);
    bool read_u32(uint32_t& value);
    bool read_u64(uint64_t& value);
    // Big-endian, as used by the container headers.
    bool read_u32_be(uint32_t& value);

    bool read_bytes(void* dst, size_t n);
    // Appends exactly n bytes to `text`; on failure `text` is left as it was.
    bool read_text(std::string& text, size_t n);

    // Moves the offset without any I/O; always succeeds.
    bool skip(int64_t n) {
        offset_ += n;
        return true;
    }

    int64_t offset() const { return offset_; }
    int64_t start() const { return start_; }
    ByteStream* stream() const { return stream_; }

private:
    FieldReader(ByteStream* stream, int64_t start) : stream_(stream), start_(start) {}

    // Reads exactly n bytes at start + offset into dst; advances the offset only then.
    bool read_exact(void* dst, size_t n);

    ByteStream* stream_;
    int64_t start_;
    int64_t offset_ = 0;
};

}  // namespace tracemill
