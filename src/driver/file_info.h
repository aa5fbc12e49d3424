// The logger identity of a log file and how it relates to the file before it.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/output_sink.h"

namespace tracemill {

struct MdfFile;

// Fills serial, start_time, session and split from the file's header block and
// its metadata (other fields are left alone). True when the serial is known
// and session and split are both non-zero.
bool read_file_info(const MdfFile& file, FileInfo& info);

// A session or split property value: leading white space skipped, decimal
// digits up to the first other character, 0 without digits, values above
// 4294967295 held at 4294967295.
uint32_t parse_property_number(std::string_view text);

// Recording start in seconds from the header's nanoseconds (whole microseconds).
double start_time_seconds(uint64_t start_time_ns);

struct FileRelation {
    bool repeated = false;      // the same logger, session and split again: a copy
    bool continuation = false;  // the next piece of the same recording
};

// How `current` relates to `previous`; nothing before the first file (empty serial).
FileRelation relate_to_previous(const FileInfo& previous, const FileInfo& current);

}  // namespace tracemill
