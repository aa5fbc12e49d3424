// The whole content of a stream as one run of bytes in memory, for the
// streams that hold it so: memory streams, decompressed and decrypted
// containers, and read windows as large as their file. Readers of such a
// stream can take records by pointer instead of a seek and a read per field.
#pragma once

#include <cstdint>

#include "streams/byte_stream.h"

namespace tracemill {

// The bytes and their count, valid while the stream lives and is not written
// to; none for any other stream. A read window lends its bytes for good
// (see BufferedStream::whole_contents).
const uint8_t* stream_contents(ByteStream* stream, uint64_t& size);

}  // namespace tracemill
