// Adding up the files of a run, and the summary at its end.
#include "driver/run_summary.h"

#include <cinttypes>
#include <cstdio>

#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {

std::string joined_reasons(const std::vector<std::string>& reasons) {
    std::string all;
    for (const std::string& reason : reasons) {
        if (!all.empty()) all += "; ";
        all += reason;
    }
    return all;
}

void RunSummary::file_done(const FileResult& result) {
    switch (result.status) {
        case FileStatus::Converted: ++totals_.converted; break;
        case FileStatus::Failed: ++totals_.failed; break;
        case FileStatus::Repeated: ++totals_.repeated; break;
        case FileStatus::PassedOver: ++totals_.passed_over; return;
    }
    totals_.deleted += result.deleted ? 1 : 0;
    totals_.outputs += result.outputs.size();
    several_outputs_ = several_outputs_ || result.outputs.size() > 1;
    totals_.frames.add(result.frames);
    totals_.records_passed_over.lin_frames += result.passed_over.lin_frames;
    totals_.records_passed_over.lin_errors += result.passed_over.lin_errors;
    totals_.records_passed_over.can_error_frames += result.passed_over.can_error_frames;
    totals_.records_passed_over.can_fd_frames += result.passed_over.can_fd_frames;
    totals_.bytes_read += result.bytes_read;
    totals_.bytes_written += result.bytes_written;
    if (result.status == FileStatus::Failed) {
        notes_.push_back("Failed: " + escape_file_name(result.input_path) + ": " + result.reason);
    } else if (!result.kept_because.empty()) {
        ++totals_.kept;
        notes_.push_back("Kept: " + escape_file_name(result.input_path) + ": " + joined_reasons(result.kept_because));
    }
}

void RunSummary::log(double seconds) const {
    if (!log_enabled(kInfo)) return;
    const RunTotals& t = totals_;
    const std::string passed_over =
        t.records_passed_over.total() == 0 ? "no records" : passed_over_text(t.records_passed_over);
    const double megabytes_per_second = seconds > 0 ? static_cast<double>(t.bytes_read) / 1e6 / seconds : 0;
    TM_LOG(kInfo,
           "Done: %" PRIu64 " converted, %" PRIu64 " failed, %" PRIu64 " passed over (not log files), %" PRIu64
           " repeated, %" PRIu64 " deleted, %" PRIu64 " kept; %" PRIu64 " frame(s) written; %s passed over; %" PRIu64
           " bytes read, %" PRIu64 " bytes written in %.3f s (%.1f MB/s)",
           t.converted, t.failed, t.passed_over, t.repeated, t.deleted, t.kept, t.frames.total(), passed_over.c_str(),
           t.bytes_read, t.bytes_written, seconds, megabytes_per_second);
    // With several formats the files written are no longer one per converted input.
    if (several_outputs_) TM_LOG(kInfo, "Written: %" PRIu64 " output file(s)", t.outputs);
    for (const std::string& note : notes_) TM_LOG(kInfo, "%s", note.c_str());
}

}  // namespace tracemill
