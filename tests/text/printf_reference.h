// What printf makes of a value: the reference the hand-written number fields
// and trace lines are checked against.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "text/number_fields.h"

namespace tracemill {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

inline std::string decimal_fast(int32_t value, int width) {
    char out[32];
    return std::string(out, put_decimal(out, value, width));
}

inline std::string printf_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string printf_text(const char* format, ...) {
    char out[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, sizeof out, format, args);
    va_end(args);
    return std::string(out, n);
}

}  // namespace tracemill
