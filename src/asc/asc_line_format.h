// Text of ASCII trace files: the header, the line of every record kind and
// the closing line.
//
// Lines are on the per-record path, so they are assembled by hand from the
// fixed-width columns of text/number_columns.h instead of printf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mdf/bus_record.h"

namespace tracemill {

// Enough room for the line of any record carrying `data_size` data bytes,
// including times of any magnitude (a double prints with up to 309 integral
// digits), and for the fixed-size stores past the line's end that its fields use.
constexpr size_t asc_line_capacity(size_t data_size) { return 480 + 3 * data_size; }

// Every kind but Unsupported has a line.
bool asc_line_exists(BusRecordKind kind);

// The record's line, final "\n" included, at `offset_s` seconds after the
// file's first record; 0 (nothing written) for a kind without a line. `out`
// must hold asc_line_capacity(data size) bytes.
size_t format_asc_line(char* out, double offset_s, const BusRecord& record);

// The time column: "%11.6f" of `seconds`, exactly its bytes; may store up to
// 8 bytes past them. Returns the column's end.
char* put_asc_time(char* out, double seconds);

// "Tue Dec 08 05:37:27.123 pm 2026": the wall-clock time `seconds` after
// 1970-01-01 00:00, milliseconds cut off. Times before 1970, past the year
// 9999 or not a number read as 1970-01-01 00:00.
std::string asc_date_text(double seconds);
// The instant that date shows, to the millisecond: record times count from it,
// so that the date plus a record's time is the record's absolute time.
double asc_date_seconds(double seconds);

// The header of a file whose first record is at `start_seconds`, up to and
// including the line that opens the trigger block's records.
std::string format_asc_header(double start_seconds);

// The line that closes the trigger block, and with it the file.
inline constexpr char kAscClosingLine[] = "End TriggerBlock\n";

}  // namespace tracemill
