// Absolute times for text output: seconds since 1970 as whole microseconds,
// written as "seconds.micros" or as an ISO 8601 UTC date and time.
#pragma once

#include <cstdint>

namespace tracemill {

// The timestamp rounded to whole microseconds; times too large or not a number give 0.
int64_t epoch_micros(double seconds);

// "%0*lld.%06lld": the seconds zero-padded to `digits`, a point and six
// digits of microseconds; "-" in front of times before 1970.
char* put_epoch_seconds(char* out, int64_t micros, int digits);

// "YYYY-MM-DDThh:mm:ss.uuuuuuZ", 27 characters (years 0 to 9999; others are
// clamped to those ends).
inline constexpr int kIsoTimeLength = 27;
char* put_iso_time(char* out, int64_t micros);

}  // namespace tracemill
