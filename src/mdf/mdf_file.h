// An opened MDF4 file: the stream it is read from and its loaded block graph.
#pragma once

#include <memory>

#include "streams/byte_stream.h"

namespace tracemill {

struct MdfFile;  // defined by the block reader

// Opens a plain MDF4 file from the supported logger family; none on failure
// (the reasons are logged where they are detected). The stream stays the caller's.
std::unique_ptr<MdfFile> open_mdf(ByteStream* stream);

}  // namespace tracemill
