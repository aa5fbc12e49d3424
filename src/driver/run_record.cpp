// The summary and the report of a run, fed together.
#include "driver/run_record.h"

#include "driver/input_walk.h"
#include "driver/run_context.h"
#include "driver/status_terminal.h"

namespace tracemill {

bool RunRecord::start(const RunContext& context) {
    started_ = std::chrono::steady_clock::now();
    if (!context.options.report_path.empty()) {
        report_ = RunReport::open(context.options.report_path, *context.input_fs, *context.output_fs());
        if (!report_) return false;
    }
    const int width = context.options.non_interactive ? -1 : status_terminal_columns();
    if (width >= 0) {
        progress_ = std::make_unique<ProgressLine>(count_inputs(*context.input_fs, context.inputs, context.options.shard), width);
    }
    return true;
}

void RunRecord::file_done(const FileResult& result) {
    summary_.file_done(result);
    if (report_) report_->file_done(result);
    if (progress_) progress_->file_done(result);
}

bool RunRecord::finish(int exit_status) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    progress_.reset();
    summary_.log(seconds);
    return !report_ || report_->finish(summary_.totals(), seconds, exit_status);
}

}  // namespace tracemill
