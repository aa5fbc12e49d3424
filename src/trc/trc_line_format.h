// Text of trace files: the header and the two frame line formats (1.1, 2.1).
//
// Frame lines are on the per-record path, so they are assembled by hand from
// the fixed-width columns of text/number_columns.h instead of printf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mdf/bus_record.h"

namespace tracemill {

inline constexpr uint32_t kTraceVersion11 = 1;
inline constexpr uint32_t kTraceVersion21 = 2;

// Enough room for any frame line carrying `data_size` data bytes, including
// offsets of any magnitude (a double prints with up to 309 integral digits),
// and for the fixed-size stores past the line's end that its fields use.
constexpr size_t trc_line_capacity(size_t data_size) { return 480 + 3 * data_size; }

// Frame lines, final "\n" included. `out` must hold trc_line_capacity(data
// size) bytes; the result is the line's length. `number` is the message number
// as printed, `offset_ms` the time since the file's first CAN frame.
size_t format_trc11_line(char* out, int32_t number, double offset_ms, const BusRecord& record);
size_t format_trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record);
// The 2.1 line with the reserved column "R" between direction and length,
// written as "-" in a field two wide, as some readers require: every column
// after the direction moves three places to the right.
size_t format_trc21_reserved_line(char* out, int32_t number, double offset_ms, const BusRecord& record);

// The start time written in the header: days since 1899-12-30 as an integral
// day number and exactly ten rounded fraction digits.
struct TraceStartTime {
    uint64_t day = 0;
    uint64_t fraction = 0;  // 0 .. 9999999999
};
TraceStartTime trace_start_time(double base_time_seconds);

// The whole header of `version` for a file whose first CAN frame is at
// `base_time_seconds`; `reserved_column` names the reserved column in the 2.1
// column list.
std::string format_trc_header(uint32_t version, double base_time_seconds, bool reserved_column = false);

}  // namespace tracemill
