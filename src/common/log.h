// Process-wide logger: one timestamped line per message on standard error.
//
// The threshold is tested at the call site, before any argument is formatted:
// always log through TM_LOG, which makes forgetting the test impossible.
#pragma once

#include <cstdint>

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


}  // namespace tracemill

#define TM_LOG(level, ...)                                                           \
    do {                                                                             \
        if (::tracemill::log_enabled(level)) ::tracemill::log_message(level, __VA_ARGS__); \
    } while (0)
