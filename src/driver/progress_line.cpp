// Composing and redrawing the status line, at most ten times a second.
#include "driver/progress_line.h"

#include <cinttypes>
#include <cstdio>

#include "common/log.h"

namespace tracemill {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressLine::ProgressLine(InputCount total, int width)
    : total_(total),
      width_(width > 1 ? static_cast<size_t>(width - 1) : 79),
      started_(std::chrono::steady_clock::now()),
      drawn_(started_) {
    draw();
}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::clear() { set_log_status_line(""); }

void ProgressLine::file_done(const FileResult& result) {
    if (result.status == FileStatus::PassedOver) return;
    ++files_;
    bytes_ += result.bytes_read;
    frames_ += result.frames.total();
    failed_ += result.status == FileStatus::Failed ? 1 : 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn_ >= kRedrawInterval || files_ == total_.files) draw();
}

std::string ProgressLine::text(double seconds) const {
    const double megabytes = static_cast<double>(bytes_) / 1e6;
    const double rate = seconds > 0 ? megabytes / seconds : 0;
    char eta[32] = "--:--";
    if (rate > 0 && total_.bytes >= bytes_) {
        const auto left = static_cast<uint64_t>(static_cast<double>(total_.bytes - bytes_) / 1e6 / rate + 0.5);
        snprintf(eta, sizeof eta, "%" PRIu64 ":%02" PRIu64, left / 60, left % 60);
    }
    char line[256];
    snprintf(line, sizeof line,
             "%" PRIu64 "/%" PRIu64 " files, %.1f/%.1f MB, %" PRIu64 " frames, %.1f MB/s, ETA %s, %" PRIu64
             " failed",
             files_, total_.files, megabytes, static_cast<double>(total_.bytes) / 1e6, frames_, rate, eta, failed_);
    std::string out = line;
    if (out.size() > width_) out.resize(width_);
    return out;
}

void ProgressLine::draw() {
    drawn_ = std::chrono::steady_clock::now();
    set_log_status_line(text(std::chrono::duration<double>(drawn_ - started_).count()));
}

}  // namespace tracemill
