// The ASCII trace writer: one ASCII trace per converted input, every record kind.
//
// The trace gets its header at the first record (whose timestamp, to the
// millisecond the date shows, becomes the file's time base), a line per record, and the closing
// line when the input ends; it is published only when a record line was
// written into it, and its life on disk is the OutputFile's. Every record kind
// has a line here, so nothing is passed over.
#include "asc/asc_writer.h"

#include <cstdint>
#include <new>
#include <string>

#include "asc/asc_line_format.h"
#include "common/log.h"
#include "driver/output_file.h"

namespace tracemill {
namespace {

constexpr OutputFileMessages kAscFileMessages{
    "Could not open output file for ASC: %s",
    "Could not close ASC file",
    "Could not remove ASC file",
};

class AscWriter final : public OutputSink {
public:
    AscWriter(FileSystemRoot& output_root, bool durable) : file_(output_root, kAscFileMessages, durable) {}

    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;
    FileOutcome outcome() const override;

private:
    bool write_header(double start_seconds);

    OutputFile file_;
    bool header_written_ = false;
    double base_time_ = 0;  // the header date: the first record's timestamp to the millisecond
    uint64_t lines_ = 0;    // record lines written
    WrittenFrames frames_;  // the same lines by kind
};

bool AscWriter::new_file(const FileInfo& info, bool /*continuation*/) {
    // Every input gets a trace of its own, continuation or not, as TRC does.
    header_written_ = false;
    base_time_ = 0;
    lines_ = 0;
    frames_ = {};
    return file_.begin(info.output_stem + ".asc", info.encrypted ? kPrivateFileMode : kSharedFileMode);
}

bool AscWriter::record(const BusRecord& record) {
    if (!asc_line_exists(record.kind)) return true;  // never handed to a sink
    if (!header_written_) {
        // On failure the next record tries again with its own timestamp.
        if (!write_header(record.timestamp)) return false;
        base_time_ = asc_date_seconds(record.timestamp);
        header_written_ = true;
    }
    char* line = file_.room(asc_line_capacity(record.data.size()));
    if (line == nullptr) {
        TM_LOG(kError, "Could not write ASC data");
        return false;
    }
    file_.added(format_asc_line(line, record.timestamp - base_time_, record));
    ++lines_;
    frames_.count(record);
    return true;
}

bool AscWriter::write_header(double start_seconds) {
    const std::string header = format_asc_header(start_seconds);
    if (!file_.write(header.data(), header.size())) {
        TM_LOG(kError, "Could not write ASC header");
        return false;
    }
    return true;
}

bool AscWriter::end_file(const FileInfo& /*info*/) {
    bool closed = true;
    if (lines_ > 0 && !file_.write(kAscClosingLine, sizeof kAscClosingLine - 1)) {
        TM_LOG(kError, "Could not write ASC data");
        closed = false;
    }
    // A file that could not be closed is discarded.
    return file_.finish(lines_ > 0 && closed) && closed;
}

FileOutcome AscWriter::outcome() const { return file_.outcome({}, frames_); }

}  // namespace

std::unique_ptr<OutputSink> asc_writer_new(FileSystemRoot* output_root, bool durable) {
    if (output_root == nullptr) return nullptr;
    return std::unique_ptr<OutputSink>(new (std::nothrow) AscWriter(*output_root, durable));
}

}  // namespace tracemill
