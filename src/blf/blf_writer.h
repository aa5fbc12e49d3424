// The binary log writer: an output sink writing one binary log per input.
#pragma once

#include <memory>

#include "driver/file_system_root.h"
#include "driver/output_sink.h"

namespace tracemill {

// The binary log of an input is its output stem + ".blf" under `output_root`,
// published only when an object was written into it; `level` is the zlib
// level of its containers (0..9). None for another level, without a root, or
// when the compressor cannot be set up. `durable`: each file and its folder
// are synced when published. `threads` deflate containers beside the
// caller (0: the caller deflates; negative: one per core when there are
// several, at most four).
std::unique_ptr<OutputSink> blf_writer_new(FileSystemRoot* output_root, int level, bool durable, int threads = -1);

}  // namespace tracemill
