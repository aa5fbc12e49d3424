// A pass-through stream that folds every byte read or written into a CRC-32
// register, and the check of a container's CRC footer against it.
//
// The stream borrows its inner stream and has no tell and no seek: it sees
// each byte exactly once, in order.
#pragma once

#include <cstdint>
#include <memory>

#include "streams/byte_stream.h"
#include "streams/crc32.h"

namespace tracemill {

class CrcStream final : public ByteStream {
public:
    explicit CrcStream(ByteStream* inner) : inner_(inner) {}

    int64_t read(void* dst, uint64_t count) override;
    int64_t write(const void* src, uint64_t count) override;
    // Releases only this object; the inner stream stays open.
    int32_t close() override { return 0; }

    uint32_t value() const { return crc_; }

private:
    ByteStream* inner_;
    uint32_t crc_ = kCrc32Initial;
};

// None when `inner` is null or the object cannot be allocated.
std::unique_ptr<CrcStream> crc_stream_new(ByteStream* inner);

inline uint32_t crc_stream_value(const CrcStream& stream) { return stream.value(); }

// Compares the big-endian register stored in the last four bytes of
// `container` with `computed`; logs the reason (level Error) when they differ
// or the footer cannot be read.
bool verify_crc_footer(ByteStream* container, uint32_t computed);

}  // namespace tracemill
