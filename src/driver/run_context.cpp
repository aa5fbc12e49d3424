// Release of the run context.
#include "driver/run_context.h"

namespace tracemill {

// The roots go last, output before input.
RunContext::~RunContext() {
    options.passwords.clear();
    inputs.clear();
    password_files.clear();
    output_dirs.clear();
    separate_output_fs.reset();
    input_fs.reset();
}

}  // namespace tracemill
