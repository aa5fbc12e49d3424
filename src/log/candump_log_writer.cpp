// The candump log writer: one line per CAN frame, no header, in the order the
// records come (time order). LIN frames and errors have no notation in the
// format: they are counted and named at the end of the file.
#include <new>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/output_file.h"
#include "log/candump_line.h"
#include "log/candump_log_format.h"

namespace tracemill {
namespace {

constexpr OutputFileMessages kLogFileMessages{
    "Could not open output file for the candump log: %s",
    "Could not close candump log file",
    "Could not remove candump log file",
};

class CandumpLogWriter final : public OutputSink {
public:
    CandumpLogWriter(FileSystemRoot& output_root, bool durable) : file_(output_root, kLogFileMessages, durable) {}

    bool new_file(const FileInfo& info, bool /*continuation*/) override {
        // Every input gets a log of its own, continuation or not, like its trace.
        lines_ = 0;
        written_ = {};
        passed_over_ = {};
        return file_.begin(info.output_stem + ".log", info.encrypted ? kPrivateFileMode : kSharedFileMode);
    }

    bool record(const BusRecord& record) override {
        if (!candump_writes(record.kind)) {
            if (record.kind == BusRecordKind::LinFrame) ++passed_over_.lin_frames;
            else if (record.kind != BusRecordKind::Unsupported) ++passed_over_.lin_errors;
            return true;
        }
        char* line = file_.room(candump_line_capacity(record.data.size()));
        if (line == nullptr) {
            TM_LOG(kError, "Could not write candump log data");
            return false;
        }
        file_.added(format_candump_line(line, record));
        ++lines_;
        written_.count(record);
        return true;
    }

    bool end_file(const FileInfo& info) override {
        const bool ok = file_.finish(lines_ > 0);
        if (passed_over_.total() > 0 && log_enabled(kInfo))
            TM_LOG(kInfo, "%s: %s not written: the candump log format has no notation for them",
                   escape_file_name(info.input_path).c_str(), passed_over_text(passed_over_).c_str());
        return ok;
    }

    FileOutcome outcome() const override { return file_.outcome(passed_over_, written_); }

private:
    OutputFile file_;
    uint64_t lines_ = 0;
    WrittenFrames written_;
    PassedOverRecords passed_over_;
};

}  // namespace

std::unique_ptr<OutputSink> candump_log_writer_new(FileSystemRoot& output_root, bool durable) {
    return std::unique_ptr<OutputSink>(new (std::nothrow) CandumpLogWriter(output_root, durable));
}

std::unique_ptr<OutputSink> CandumpLogFormat::new_sink(FileSystemRoot& output_root, bool durable) {
    return candump_log_writer_new(output_root, durable);
}

}  // namespace tracemill
