// The file header of a binary log, written last: its sizes, object count and
// end time are known only when every container is in the file.
#pragma once

#include <cstdint>

namespace tracemill::blf {

struct FileSummary {
    uint64_t file_size = 0;
    uint64_t uncompressed_size = 0;  // header plus every container as if stored
    uint32_t object_count = 0;
    int64_t start_ms = 0;            // first record, milliseconds since 1970 (UTC)
    int64_t end_ms = 0;              // last record, likewise
};

// Fills the kFileHeaderSize bytes at `out`.
void encode_file_header(uint8_t* out, const FileSummary& summary);

}  // namespace tracemill::blf
