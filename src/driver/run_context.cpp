// Creation and release of the run context.
#include "driver/run_context.h"

namespace tracemill {

RunContext::RunContext(std::unique_ptr<RunHooks> run_hooks)
    : hooks(run_hooks ? std::move(run_hooks) : std::make_unique<RunHooks>()) {}

// The writer's hook sees the context whole; the roots go last, output before input.
RunContext::~RunContext() {
    hooks->on_free(*this);
    options.passwords.clear();
    inputs.clear();
    password_files.clear();
    output_dirs.clear();
    separate_output_fs.reset();
    input_fs.reset();
}

}  // namespace tracemill
