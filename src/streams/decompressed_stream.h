// Compressed containers (type 34): the body after the 20-byte header is
//   offset  width  field
//       20      4  lookahead_param  u32 BE; its low 8 bits are L
//       24      4  window_param     u32 BE; W = its trailing zero bits (0 for 0)
//       28      …  payload          heatshrink bit stream
//    end-4      4  footer           CRC register over the payload, only when footer_flag is 1
// The whole payload is decompressed into memory when the container is opened,
// so readers of the result seek freely and the container can be closed.
#pragma once

#include <cstdint>

#include "streams/byte_stream.h"
#include "streams/container_header.h"

namespace tracemill {

inline constexpr int64_t kCompressedPayloadOffset = 28;

// The decompressed content of one container, held in a memory stream.
class DecompressedStream final : public ByteStream {
public:
    DecompressedStream(const ContainerHeader& header, uint32_t window_param, uint32_t lookahead_param,
                       StreamPtr inner)
        : header_(header), window_param_(window_param), lookahead_param_(lookahead_param), inner_(std::move(inner)) {}

    int64_t read(void* dst, uint64_t count) override { return stream_read(inner_.get(), dst, count); }
    int64_t write(const void* src, uint64_t count) override { return stream_write(inner_.get(), src, count); }
    int64_t tell() override { return stream_tell(inner_.get()); }
    int64_t seek(int64_t offset, int32_t whence) override { return stream_seek(inner_.get(), offset, whence); }
    int32_t close() override { return stream_close(std::move(inner_)); }

    // The memory stream holding the content; none once closed.
    ByteStream* content() const { return inner_.get(); }

    const ContainerHeader& header() const { return header_; }
    uint32_t window_param() const { return window_param_; }
    uint32_t lookahead_param() const { return lookahead_param_; }

private:
    ContainerHeader header_;
    uint32_t window_param_;
    uint32_t lookahead_param_;
    StreamPtr inner_;
};

// The decoder's window bit count for a stored window size.
uint8_t window_bits_of(uint32_t window_param);

// None unless the header is that of a compressed container with matching
// flags, its parameters are accepted, the payload decodes completely into
// memory and, with a footer, its CRC matches. The container is only read and
// stays the caller's. Failures after the header checks are logged here.
StreamPtr open_decompressed_stream(ByteStream* container, const ContainerHeader& header);

// The work of open_decompressed_stream with the destination chosen by the
// caller (tests use one that fails): decompresses the payload into
// `destination`. The parameter words are stored through the last two
// arguments when they could be read.
bool decompress_container(ByteStream* container, const ContainerHeader& header, ByteStream* destination,
                          uint32_t* window_param, uint32_t* lookahead_param);

}  // namespace tracemill
