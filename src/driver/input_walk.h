// The walk over the inputs: folders depth-first in byte order, log files picked
// by extension, output stems and folders formed under the output root.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/conversion_context.h"
#include "driver/file_system_root.h"
#include "driver/shard.h"

namespace tracemill {

// Converts one log file the walk reached with `convert`, filling `result`
// (all but the input path) and logging a failure; returns 0, 2, 4 or 8.
int convert_log_file(ConversionContext& context, const FileConverter& convert, std::string_view in,
                     std::string_view stem, FileResult& result);

// Walks every input in order (relative to the input root); the OR of all results.
int convert_inputs(ConversionContext& context, const std::vector<std::string>& inputs,
                   const FileConverter& convert = convert_file);

// Walks one file or folder tree; `in` is relative to the input root, `out` to the output root.
int walk_path(ConversionContext& context, std::string_view in, std::string_view out,
              const FileConverter& convert = convert_file);

// The log files of `shard` a walk over `inputs` will meet and their bytes,
// counted by a quiet walk (nothing logged, unusable paths left out) for
// showing progress.
struct InputCount {
    uint64_t files = 0;
    uint64_t bytes = 0;
};
InputCount count_inputs(FileSystemRoot& root, const std::vector<std::string>& inputs, const Shard& shard = {});

// Creates every missing level of `folder` under `root`; true when all exist as folders.
bool make_dirs(FileSystemRoot& root, std::string_view folder);

}  // namespace tracemill
