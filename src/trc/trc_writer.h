// The trace file writer: the program's output sink.
#pragma once

#include <cstdint>
#include <memory>

#include "driver/file_system_root.h"
#include "driver/output_sink.h"

namespace tracemill {

// version 1 = TRC 1.1, 2 = TRC 2.1; none for any other version.
std::unique_ptr<OutputSink> trc_writer_new(FileSystemRoot* output_root, uint32_t trace_version);

}  // namespace tracemill
