// An opened MDF4 file: the stream it is read from and its loaded block graph.
#pragma once

#include <memory>

#include "streams/byte_stream.h"

namespace tracemill {

struct MdfFile;  // defined by the block reader
struct MdfFileDeleter {
    void operator()(MdfFile* file) const;  // drops the block graph; the stream stays open
};
using MdfFilePtr = std::unique_ptr<MdfFile, MdfFileDeleter>;

// Opens a plain MDF4 file from the supported logger family; none on failure
// (the reasons are logged where they are detected). The stream stays the caller's.
MdfFilePtr open_mdf(ByteStream* stream);

}  // namespace tracemill
