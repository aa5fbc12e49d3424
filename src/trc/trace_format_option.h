// The trace writer's -f/--trace-format option and the run context it joins.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "driver/option_kinds.h"
#include "driver/run_context.h"

namespace tracemill {

// 1 for "version1", 2 for "version2" (any letter case), 0 for anything else.
uint32_t parse_trace_format(std::string_view value);

// The option row; its check stores the chosen version (2 without a value) in
// context.trace_version and rejects any other value.
CheckedOption* trace_format_option(RunContext& context);

// Hooks of the trace writer: add_options appends the -f row.
class TraceWriterHooks final : public RunHooks {
public:
    bool add_options(RunContext& context, std::vector<void*>& table) override;
};

// The run context of a run that writes trace files.
std::unique_ptr<RunContext> trace_writer_run_context_new();

}  // namespace tracemill
