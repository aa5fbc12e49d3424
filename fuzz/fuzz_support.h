// Shared set-up of the fuzz targets: silence the logger so that executions
// measure parsing, not formatting of diagnostics.
#pragma once

#include "common/log.h"

namespace tracemill::fuzz {

// Above kFatal: nothing is formatted or written.
inline void silence_log() { set_log_threshold(kFatal + 1); }

}  // namespace tracemill::fuzz
