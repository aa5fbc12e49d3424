// What a run tells about its files besides the log: the end summary, and the
// report file when one is asked for.
#pragma once

#include <chrono>
#include <memory>

#include "driver/file_result.h"
#include "driver/progress_line.h"
#include "driver/run_report.h"
#include "driver/run_summary.h"

namespace tracemill {

struct RunContext;

class RunRecord final : public FileObserver {
public:
    // Starts the clock, opens the report of `context.options`, if any, and
    // shows progress when standard error is a terminal and the run is
    // interactive; false (logged) when the report cannot be created.
    bool start(const RunContext& context);
    void file_done(const FileResult& result) override;
    // Logs the summary and ends the report with `exit_status`; false when the report failed.
    bool finish(int exit_status);

private:
    std::chrono::steady_clock::time_point started_;
    RunSummary summary_;
    std::unique_ptr<RunReport> report_;
    std::unique_ptr<ProgressLine> progress_;
};

}  // namespace tracemill
