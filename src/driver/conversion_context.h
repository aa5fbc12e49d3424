// Per-run converter state shared by the input walk and the conversion pipeline.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "driver/file_result.h"
#include "driver/file_system_root.h"
#include "driver/output_sink.h"
#include "driver/run_options.h"

namespace tracemill {

struct MdfFile;
class RelationOrder;
class ParallelConversion;

struct ConversionContext {
    FileSystemRoot* input_root = nullptr;   // not owned
    FileSystemRoot* output_root = nullptr;  // not owned
    bool create_directories = true;
    const RunOptions* options = nullptr;    // not owned
    OutputSink* sink = nullptr;             // not owned
    FileInfo previous;                      // last file whose header was read
    RelationOrder* order = nullptr;         // decides relations instead of `previous` when set; not owned
    uint64_t ticket = 0;                    // the current file's place in `order`
    FileResult* result = nullptr;           // the current file's, filled in when set; not owned
    FileObserver* observer = nullptr;       // told about every file the walk reaches; not owned
    ParallelConversion* parallel = nullptr; // converts the walk's files on other threads when set; not owned
};

// Converts one log file; returns 0, 2, 4 or 8. Fills context.result, when
// set, with what it found and did (all but input path and time).
int convert_file(ConversionContext& context, std::string_view input_path, std::string_view output_stem);

// Converts one log file into the output stem; returns 0, 2, 4 or 8.
using FileConverter = std::function<int(ConversionContext&, std::string_view input, std::string_view stem)>;

}  // namespace tracemill
