// The 20-byte header of compressed and encrypted log files, and the test
// that recognises it at the start of a stream.
//
// On-disk layout (big-endian integers):
//   offset  width  field
//        0     12  magic           "Generic File", no terminator
//       12      1  check_flag      0 or 1
//       13      1  footer_flag     1: a 4-byte CRC footer ends a compressed container
//       14      1  container_type  34 compressed, 17 encrypted
//       15      1  format_version  1
//       16      4  device_id       the logger that wrote the file
// The bytes from offset 20 on belong to the container type.
#pragma once

#include <cstdint>
#include <string_view>

#include "streams/byte_stream.h"

namespace tracemill {

inline constexpr std::string_view kContainerMagic = "Generic File";
inline constexpr int64_t kContainerHeaderSize = 20;
inline constexpr uint8_t kContainerCompressed = 34;
inline constexpr uint8_t kContainerEncrypted = 17;

struct ContainerHeader {
    char magic[12] = {};
    uint32_t device_id = 0;
    uint8_t check_flag = 0;
    uint8_t footer_flag = 0;
    uint8_t format_version = 0;
    uint8_t container_type = 0;
};

// True when the stream starts with a container header. `header` is filled as
// far as the stream could be read, whatever the answer. Logs nothing: a
// stream that is not a container is an ordinary outcome.
bool read_container_header(ByteStream* stream, ContainerHeader& header);

}  // namespace tracemill
