// Compressed containers (type 34): the body after the 20-byte header is
//   offset  width  field
//       20      4  lookahead_param  u32 BE; its low 8 bits are L
//       24      4  window_param     u32 BE; W = its trailing zero bits (0 for 0)
//       28      …  payload          heatshrink bit stream
//    end-4      4  footer           CRC register over the payload, only when footer_flag is 1
// The whole payload is decompressed into memory when the container is opened,
// so readers of the result seek freely and the container can be closed.
// This file is the compressed layer of the container table.
#pragma once

#include <cstdint>

#include "streams/byte_stream.h"
#include "streams/container_header.h"
#include "streams/container_layer.h"

namespace tracemill {

inline constexpr int64_t kCompressedPayloadOffset = 28;

// The layer entry of compressed containers (see container_layer.h).
extern const ContainerLayer kCompressedLayer;

// The decoder's window bit count for a stored window size.
uint8_t window_bits_of(uint32_t window_param);

// The content in a memory stream positioned at its end; none unless the
// header is that of a compressed container with matching flags, its
// parameters are accepted, the payload decodes completely into memory and,
// with a footer, its CRC matches. The container is only read and stays the
// caller's. Failures after the header checks are logged here. Content of an
// encrypted file (`holds_secrets`) is wiped when it is released.
StreamPtr open_decompressed_stream(ByteStream* container, const ContainerHeader& header,
                                   bool holds_secrets = false);

// The work of open_decompressed_stream with the destination chosen by the
// caller (tests use one that fails): decompresses the payload into
// `destination`.
bool decompress_container(ByteStream* container, const ContainerHeader& header, ByteStream* destination);

}  // namespace tracemill
