// The per-file identity handed to the output writer, and the writer's interface.
#pragma once

#include <cstdint>
#include <string>

#include "mdf/bus_record.h"

namespace tracemill {

struct FileInfo {
    std::string input_path;   // relative to the input root
    std::string output_stem;  // relative to the output root, extension removed
    std::string serial;       // logger serial number
    double start_time = 0;    // recording start, seconds since 1970
    uint32_t session = 0;
    uint32_t split = 0;
};

// A sink that has not been given real operations fails every call.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual bool record(const BusRecord& /*record*/) { return false; }
    virtual bool new_file(const FileInfo& /*info*/, bool /*continuation*/) { return false; }
    virtual bool end_file(const FileInfo& /*info*/) { return false; }
};

}  // namespace tracemill
