// What became of one input file, as the end summary and the run report tell
// it: filled by the walk and by convert_file while the file is converted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

enum class FileStatus : int32_t {
    Converted,   // its trace is written (or it held no frame to write)
    Failed,      // result code not 0
    Repeated,    // a copy of the file before it: no output
    PassedOver,  // not a log file
};

// "converted", "failed", "repeated", "passed over".
const char* file_status_name(FileStatus status);

struct FileResult {
    std::string input_path;    // as the walk names it
    std::string trace_path;    // relative to the output root; empty when none was published
    std::vector<std::string> outputs;  // every published file (one per format written), trace_path first
    FileStatus status = FileStatus::Converted;
    int result_code = 0;
    std::string reason;        // a few words for a failed or passed-over file
    std::vector<std::string> layers;  // container layers found, outermost first
    std::string serial;        // logger identity, when its header was read
    uint32_t session = 0;
    uint32_t split = 0;
    WrittenFrames frames;
    PassedOverRecords passed_over;
    uint64_t bytes_read = 0;     // size of the input file
    uint64_t bytes_written = 0;  // size of the published trace
    double seconds = 0;
    bool deleted = false;
    std::vector<std::string> kept_because;  // under -d: why the input stays
};

// Told about every file the walk reaches, in walk order.
class FileObserver {
public:
    virtual ~FileObserver() = default;
    virtual void file_done(const FileResult& result) = 0;
};

}  // namespace tracemill
