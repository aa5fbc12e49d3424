// The live status line of a run on a terminal: files and input bytes done of
// the total, frames written, speed, time left and failures so far. Drawn
// through the logger, so log lines appear above it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "driver/file_result.h"
#include "driver/input_walk.h"

namespace tracemill {

class ProgressLine final : public FileObserver {
public:
    // `total`: what the walk will meet; `width`: the terminal's columns.
    ProgressLine(InputCount total, int width);
    ~ProgressLine() override;  // clears the line
    void file_done(const FileResult& result) override;
    // Removes the line, so what follows starts on a clean line.
    void clear();

    // The line's text for the counts so far after `seconds`.
    std::string text(double seconds) const;

private:
    void draw();

    InputCount total_;
    size_t width_;
    uint64_t files_ = 0;
    uint64_t bytes_ = 0;
    uint64_t frames_ = 0;
    uint64_t failed_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point drawn_;
};

}  // namespace tracemill
