// The trace file writer: an output sink writing one trace file per input.
#pragma once

#include <cstdint>
#include <memory>

#include "driver/file_system_root.h"
#include "driver/output_sink.h"

namespace tracemill {

// version 1 = TRC 1.1, 2 = TRC 2.1 (kTraceVersion11, kTraceVersion21); none for
// any other version or without a root. The trace file of an input is its
// output stem + "_CAN.trc" under `output_root`; it is published only when a
// frame line was written into it. `durable`: each trace and its folder are
// synced when published. `reserved_column` adds the reserved column to 2.1
// lines and changes nothing in 1.1, which has no such column.
std::unique_ptr<OutputSink> trc_writer_new(FileSystemRoot* output_root, uint32_t trace_version, bool durable,
                                           bool reserved_column = false);

}  // namespace tracemill
