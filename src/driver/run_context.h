// Everything one run of the converter holds between the command line and the
// last file: options, inputs and the roots.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/file_system_root.h"
#include "driver/run_options.h"

namespace tracemill {

struct RunContext {
    RunContext() = default;
    ~RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    RunOptions options;
    std::string input_root;                   // the folder holding every input, ending in "/"
    std::vector<std::string> inputs;          // absolute, then relative to input_root
    std::vector<std::string> password_files;  // -p, absolute (at most one)
    std::vector<std::string> output_dirs;     // -O, absolute (at most one)
    std::unique_ptr<FileSystemRoot> input_fs;
    std::unique_ptr<FileSystemRoot> separate_output_fs;  // only with -O

    FileSystemRoot* output_fs() const { return separate_output_fs ? separate_output_fs.get() : input_fs.get(); }
};

}  // namespace tracemill
