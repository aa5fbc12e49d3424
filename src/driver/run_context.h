// Everything one run of the converter holds between the command line and the
// last file: options, inputs, the roots, and the hooks through which the output
// writer joins the option table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/file_system_root.h"
#include "driver/run_options.h"

namespace tracemill {

struct RunContext;

// Operations through which an output writer takes part in a run. Each default
// stands for an absent operation: it adds nothing, accepts, does nothing.
class RunHooks {
public:
    virtual ~RunHooks() = default;
    // Appends the writer's options to the table under construction.
    virtual bool add_options(RunContext& /*context*/, std::vector<void*>& /*table*/) { return true; }
    // Runs once the options are accepted; false ends the run.
    virtual bool after_parse(RunContext& /*context*/) { return true; }
    // Runs first when the context is released.
    virtual void on_free(RunContext& /*context*/) {}
};

struct RunContext {
    explicit RunContext(std::unique_ptr<RunHooks> run_hooks = nullptr);
    ~RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    std::unique_ptr<RunHooks> hooks;  // never null
    RunOptions options;
    std::string input_root;                   // the folder holding every input, ending in "/"
    std::vector<std::string> inputs;          // absolute, then relative to input_root
    std::vector<std::string> password_files;  // -p, absolute (at most one)
    std::vector<std::string> output_dirs;     // -O, absolute (at most one)
    std::unique_ptr<FileSystemRoot> input_fs;
    std::unique_ptr<FileSystemRoot> separate_output_fs;  // only with -O
    uint32_t trace_version = 0;               // set by the writer's option check

    FileSystemRoot* output_fs() const { return separate_output_fs ? separate_output_fs.get() : input_fs.get(); }
};

}  // namespace tracemill
