// The fan-out sink: several formats written in one pass over the records.
#include "driver/fan_out_sink.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tracemill {

bool FanOutSink::record(const BusRecord& record) {
    bool ok = true;
    for (const auto& sink : sinks_) ok = sink->record(record) && ok;
    return ok;
}

bool FanOutSink::new_file(const FileInfo& info, bool continuation) {
    bool ok = true;
    for (const auto& sink : sinks_) ok = sink->new_file(info, continuation) && ok;
    return ok;
}

bool FanOutSink::end_file(const FileInfo& info) {
    bool ok = true;
    for (const auto& sink : sinks_) ok = sink->end_file(info) && ok;
    return ok;
}

FileOutcome FanOutSink::outcome() const {
    FileOutcome all;
    all.durable = true;
    all.several_formats = true;
    constexpr uint64_t kEvery = std::numeric_limits<uint64_t>::max();
    if (!sinks_.empty()) all.passed_over = {kEvery, kEvery, kEvery, kEvery};
    for (const auto& sink : sinks_) {
        const FileOutcome part = sink->outcome();
        PassedOverRecords& passed = all.passed_over;
        passed.lin_frames = std::min(passed.lin_frames, part.passed_over.lin_frames);
        passed.lin_errors = std::min(passed.lin_errors, part.passed_over.lin_errors);
        passed.can_error_frames = std::min(passed.can_error_frames, part.passed_over.can_error_frames);
        passed.can_fd_frames = std::min(passed.can_fd_frames, part.passed_over.can_fd_frames);
        all.written.take_larger(part.written);
        for (const std::string& path : published_outputs(part)) all.outputs.push_back(path);
        all.bytes_written += part.bytes_written;
        all.durable = all.durable && part.durable;
    }
    if (!all.outputs.empty()) all.output_path = all.outputs.front();
    return all;
}

}  // namespace tracemill
