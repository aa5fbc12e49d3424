// The CRC-folding pass-through stream and the footer check.
#include "streams/crc_stream.h"

#include <new>

#include "common/log.h"
#include "streams/crc32.h"

namespace tracemill {

int64_t CrcStream::read(void* dst, uint64_t count) {
    const int64_t got = stream_read(inner_, dst, count);
    if (got > 0) crc_ = crc32_update_block(crc_, static_cast<const uint8_t*>(dst), static_cast<size_t>(got));
    return got;
}

int64_t CrcStream::write(const void* src, uint64_t count) {
    const int64_t put = stream_write(inner_, src, count);
    if (put > 0) {
        const uint64_t accepted = static_cast<uint64_t>(put) < count ? static_cast<uint64_t>(put) : count;
        crc_ = crc32_update_block(crc_, static_cast<const uint8_t*>(src), static_cast<size_t>(accepted));
    }
    return put;
}

std::unique_ptr<CrcStream> crc_stream_new(ByteStream* inner) {
    if (!inner) return nullptr;
    return std::unique_ptr<CrcStream>(new (std::nothrow) CrcStream(inner));
}

bool verify_crc_footer(ByteStream* container, uint32_t computed) {
    uint8_t footer[4];
    // A container shorter than the footer cannot be positioned 4 bytes before its end.
    if (stream_seek(container, -4, kSeekEnd) < 0 ||
        stream_read_fully(container, footer, sizeof footer) != static_cast<int64_t>(sizeof footer)) {
        TM_LOG(kError, "Expected to read out CRC from footer, but found none");
        return false;
    }
    const uint32_t expected =
        uint32_t{footer[0]} << 24 | uint32_t{footer[1]} << 16 | uint32_t{footer[2]} << 8 | uint32_t{footer[3]};
    if (expected != computed) {
        TM_LOG(kError, "Could not validate checksum, expected %08X but found %08X", expected, computed);
        return false;
    }
    return true;
}

}  // namespace tracemill
