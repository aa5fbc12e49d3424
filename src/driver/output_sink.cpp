// Texts about an output sink's results.
#include "driver/output_sink.h"

#include <algorithm>

namespace tracemill {

std::string passed_over_text(const PassedOverRecords& records) {
    struct Count {
        uint64_t count;
        const char* what;
    };
    const Count counts[] = {{records.lin_frames, "LIN frame(s)"},
                            {records.lin_errors, "LIN error(s)"},
                            {records.can_error_frames, "CAN error frame(s)"},
                            {records.can_fd_frames, "CAN FD frame(s)"}};
    std::string list;
    for (const Count& c : counts) {
        if (c.count == 0) continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(c.count);
        list += ' ';
        list += c.what;
    }
    return list;
}

void WrittenFrames::add(const WrittenFrames& other) {
    can_frames += other.can_frames;
    can_fd_frames += other.can_fd_frames;
    can_remote_frames += other.can_remote_frames;
    can_error_frames += other.can_error_frames;
    lin_frames += other.lin_frames;
    lin_errors += other.lin_errors;
}

void WrittenFrames::take_larger(const WrittenFrames& other) {
    can_frames = std::max(can_frames, other.can_frames);
    can_fd_frames = std::max(can_fd_frames, other.can_fd_frames);
    can_remote_frames = std::max(can_remote_frames, other.can_remote_frames);
    can_error_frames = std::max(can_error_frames, other.can_error_frames);
    lin_frames = std::max(lin_frames, other.lin_frames);
    lin_errors = std::max(lin_errors, other.lin_errors);
}

std::vector<std::string> published_outputs(const FileOutcome& outcome) {
    if (!outcome.outputs.empty()) return outcome.outputs;
    if (outcome.output_path.empty()) return {};
    return {outcome.output_path};
}

}  // namespace tracemill
