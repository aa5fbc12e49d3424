// Log line composition: "MM-DD hh:mm:ss.mmm PPPPP TTTTT L message\n", cut at
// 510 characters and written to standard error with a single write call, or
// collected by the thread's LogCapture.
#include "common/log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/log_stamp.h"

namespace tracemill {

int32_t log_threshold = 0;

void set_log_threshold(int32_t level) { log_threshold = level; }

namespace {

constexpr int kLineLimit = 510;

// Collected lines beyond this go out early rather than grow without end.
constexpr size_t kCaptureLimit = 1 << 20;

thread_local LogCapture* active_capture = nullptr;

// Goes to the start of the terminal line and clears it.
constexpr char kClearLine[] = "\r\x1b[K";

// The status line below the log; empty when none is shown.
std::string status_line;
// Whether one is shown, for a signal handler that may not touch the string.
std::atomic<bool> status_line_shown{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void write_all(const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDERR_FILENO, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

// Log lines go above the status line, in one write with it.
void write_log_lines(const char* lines, size_t size) {
    if (status_line.empty()) {
        write_all(lines, size);
        return;
    }
    std::string out = kClearLine;
    out.append(lines, size);
    out += status_line;
    write_all(out.data(), out.size());
}

char level_letter(int32_t level) {
    switch (level) {
        case kVerbose: return 'V';
        case kDebug: return 'D';
        case kInfo: return 'I';
        case kWarn: return 'W';
        case kError: return 'E';
        case kFatal: return 'F';
        default: return '?';
    }
}

// Writes the prefix for the current local time; returns its length.
int compose_prefix(char* out, size_t room, int32_t level) {
    const LogStamp now = log_stamp_now();
    int n = snprintf(out, room, "%02d-%02d %02d:%02d:%02d.%03d %5d %5ld %c ", now.month, now.day, now.hour,
                     now.minute, now.second, now.millisecond, static_cast<int>(now.process), now.thread,
                     level_letter(level));
    return n < 0 ? 0 : (n > kLineLimit ? kLineLimit : n);
}

int finish_line(char* line, int length) {
    if (length > kLineLimit) length = kLineLimit;
    line[length] = '\n';
    line[length + 1] = '\0';
    return length + 1;
}

}  // namespace

void log_message(int32_t level, const char* format, ...) {
    char line[kLineLimit + 2];
    int n = compose_prefix(line, kLineLimit + 1, level);
    va_list args;
    va_start(args, format);
    int m = vsnprintf(line + n, static_cast<size_t>(kLineLimit + 1 - n), format, args);
    va_end(args);
    int length = finish_line(line, n + (m < 0 ? 0 : m));
    if (active_capture != nullptr) {
        active_capture->add(line, length);
        return;
    }
    if (!status_line.empty()) {
        write_log_lines(line, static_cast<size_t>(length));
        return;
    }
    ssize_t ignored = write(STDERR_FILENO, line, static_cast<size_t>(length));
    (void)ignored;
}

void set_log_status_line(const std::string& text) {
    if (text.empty() && status_line.empty()) return;
    status_line = text;
    status_line_shown.store(!text.empty(), std::memory_order_release);
    const std::string out = kClearLine + text;
    write_all(out.data(), out.size());
}

void clear_log_status_line_in_signal_handler() {
    if (!status_line_shown.load(std::memory_order_acquire)) return;
    ssize_t ignored = write(STDERR_FILENO, kClearLine, sizeof kClearLine - 1);
    (void)ignored;
}

void write_log_text(const std::string& lines) {
    if (!lines.empty()) write_log_lines(lines.data(), lines.size());
}

LogCapture::LogCapture(int32_t heading_level, std::string heading, bool held)
    : heading_level_(heading_level), heading_(std::move(heading)), held_(held), outer_(active_capture) {
    active_capture = this;
}

LogCapture::~LogCapture() { finish(); }

void LogCapture::add(const char* line, int length) {
    if (!collected_any_) {
        collected_any_ = true;
        if (!heading_.empty() && log_enabled(heading_level_)) {
            char heading[kLineLimit + 2];
            const int n = compose_prefix(heading, kLineLimit + 1, heading_level_);
            const int m = snprintf(heading + n, static_cast<size_t>(kLineLimit + 1 - n), "%s", heading_.c_str());
            lines_.append(heading, static_cast<size_t>(finish_line(heading, n + (m < 0 ? 0 : m))));
        }
    }
    lines_.append(line, static_cast<size_t>(length));
    if (!held_ && lines_.size() > kCaptureLimit) write_out();
}

std::string LogCapture::take_lines() {
    std::string lines;
    lines.swap(lines_);
    return lines;
}

void LogCapture::write_out() {
    if (!lines_.empty()) write_log_lines(lines_.data(), lines_.size());
    lines_.clear();
}

void LogCapture::finish() {
    if (!active_) return;
    active_ = false;
    // Captures end in the reverse order of their start on a thread.
    if (active_capture == this) active_capture = outer_;
    write_out();
}

}  // namespace tracemill
