// Candump logs as an output format ("-F log"): one ".log" file per input
// holding its CAN data, remote and error frames; LIN records are passed over.
#pragma once

#include <memory>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

class CandumpLogFormat final : public OutputFormat {
public:
    static constexpr const char* kName = "log";

    bool add_options(std::vector<void*>& /*table*/) override { return true; }
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;
};

// The sink on its own: the log of an input is its output stem + ".log" under
// `output_root`, published only when a line was written into it; `durable`:
// each log and its folder are synced when published.
std::unique_ptr<OutputSink> candump_log_writer_new(FileSystemRoot& output_root, bool durable);

}  // namespace tracemill
