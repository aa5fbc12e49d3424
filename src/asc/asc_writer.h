// The ASCII trace writer: an output sink writing one ASCII trace per input.
#pragma once

#include <memory>

#include "driver/file_system_root.h"
#include "driver/output_sink.h"

namespace tracemill {

// The ASCII trace of an input is its output stem + ".asc" under
// `output_root`; it is published only when a record line was written into it.
// `durable`: each trace and its folder are synced when published. None without a root.
std::unique_ptr<OutputSink> asc_writer_new(FileSystemRoot* output_root, bool durable);

}  // namespace tracemill
