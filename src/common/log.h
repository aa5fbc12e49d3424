// Process-wide logger: one timestamped line per message on standard error.
//
// The threshold is tested at the call site, before any argument is formatted:
// always log through TM_LOG, which makes forgetting the test impossible.
#pragma once

#include <cstdint>
#include <string>

namespace tracemill {

enum LogLevel : int32_t {
    kVerbose = 1,
    kDebug = 2,
    kInfo = 3,
    kWarn = 4,
    kError = 5,
    kFatal = 6,
};

// 0 until the command line sets it, so everything is written while parsing.
extern int32_t log_threshold;

void set_log_threshold(int32_t level);
inline bool log_enabled(int32_t level) { return log_threshold <= level; }

// Composes and writes one line; does not filter (use TM_LOG).
void log_message(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A status line kept below the log on a terminal: each log line first clears
// it and draws it again after itself. Empty text clears it for good. Only
// for a standard error that is a terminal; the caller decides.
void set_log_status_line(const std::string& text);
// Clears a status line on the way out of a signal handler (async-signal-safe).
void clear_log_status_line_in_signal_handler();

// Writes lines already composed (as collected by a LogCapture) above the status line.
void write_log_text(const std::string& lines);

// Collects the lines its thread logs while it lives, so that the lines about
// one piece of work (one input file) reach standard error together, headed
// by a line that names the work, and nothing at all when none was logged.
// The lines are held in the capture, not in the logger, so captures of
// different threads never mix. Captures nest: the inner one collects.
class LogCapture {
public:
    // `heading` (already escaped) becomes a line at `heading_level` placed
    // before the first captured line, stamped with that line's time; an empty
    // one adds no line. A `held` capture never writes early: its lines wait
    // for take_lines, so that another thread can place them in order.
    LogCapture(int32_t heading_level, std::string heading, bool held = false);
    ~LogCapture();  // finishes, when finish() was not called
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Stops capturing and writes what was collected to standard error.
    void finish();
    bool collected_any() const { return collected_any_; }
    // Hands over what was collected so far; the capture goes on collecting.
    std::string take_lines();

    // Used by log_message: adds one composed line.
    void add(const char* line, int length);

private:
    void write_out();

    int32_t heading_level_;
    std::string heading_;
    std::string lines_;
    bool collected_any_ = false;
    bool active_ = true;
    bool held_;
    LogCapture* outer_;
};


}  // namespace tracemill

#define TM_LOG(level, ...)                                                           \
    do {                                                                             \
        if (::tracemill::log_enabled(level)) ::tracemill::log_message(level, __VA_ARGS__); \
    } while (0)
