// The trace writer: one trace file per converted input, CAN frames only.
//
// The trace file gets its header at the first CAN frame (whose timestamp
// becomes the file's time base) and is published only when a frame line was
// written into it; its life on disk is the OutputFile's. Records the format
// has no notation for are counted by kind and named at the end of the file.
#include "trc/trc_writer.h"

#include <cinttypes>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/output_file.h"
#include "trc/trc_line_format.h"

namespace tracemill {
namespace {

constexpr OutputFileMessages kTraceFileMessages{
    "Could not open output file for CAN: %s",
    "Could not close CAN file",
    "Could not remove CAN file",
};

class TrcWriter final : public OutputSink {
public:
    TrcWriter(FileSystemRoot& output_root, uint32_t version, bool durable, bool reserved_column)
        : file_(output_root, kTraceFileMessages, durable),
          version_(version),
          reserved_column_(reserved_column && version == kTraceVersion21),
          format_line_(version == kTraceVersion11 ? format_trc11_line
                       : reserved_column_         ? format_trc21_reserved_line
                                                  : format_trc21_line) {}

    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;
    FileOutcome outcome() const override;

private:
    bool write_header();
    bool write_line(const BusRecord& record);
    void pass_over(BusRecordKind kind);
    void log_passed_over(const FileInfo& info) const;
    // Message number as printed by "%d": its low 32 bits, signed.
    int32_t take_message_number() { return static_cast<int32_t>(static_cast<uint32_t>(message_number_++)); }

    OutputFile file_;
    uint32_t version_;
    bool reserved_column_;
    // The line layout, chosen once for the run.
    size_t (*format_line_)(char* out, int32_t number, double offset_ms, const BusRecord& record);
    bool header_written_ = false;
    double base_time_ = std::numeric_limits<double>::quiet_NaN();  // first CAN frame's timestamp
    uint64_t message_number_ = 1;  // number of the next frame line
    PassedOverRecords passed_over_;
    WrittenFrames written_;  // the frame lines by kind
};

bool TrcWriter::new_file(const FileInfo& info, bool /*continuation*/) {
    // Every input gets a trace file of its own, continuation or not.
    header_written_ = false;
    message_number_ = 1;
    base_time_ = std::numeric_limits<double>::quiet_NaN();
    passed_over_ = {};
    written_ = {};
    return file_.begin(info.output_stem + "_CAN.trc", info.encrypted ? kPrivateFileMode : kSharedFileMode);
}

bool TrcWriter::record(const BusRecord& record) {
    if (record.kind != BusRecordKind::CanDataFrame && record.kind != BusRecordKind::CanRemoteFrame) {
        pass_over(record.kind);
        return true;
    }
    if (!header_written_) {
        base_time_ = record.timestamp;
        // On failure the next CAN record tries again with its own timestamp.
        if (!write_header()) return false;
        header_written_ = true;
    }
    return write_line(record);
}

void TrcWriter::pass_over(BusRecordKind kind) {
    switch (kind) {
    case BusRecordKind::CanErrorFrame: ++passed_over_.can_error_frames; break;
    case BusRecordKind::LinFrame: ++passed_over_.lin_frames; break;
    case BusRecordKind::LinChecksumError:
    case BusRecordKind::LinReceiveError:
    case BusRecordKind::LinTransmissionError:
    case BusRecordKind::LinSyncError: ++passed_over_.lin_errors; break;
    default: break;
    }
}

bool TrcWriter::write_header() {
    std::string header = format_trc_header(version_, base_time_, reserved_column_);
    if (!file_.write(header.data(), header.size())) {
        TM_LOG(kError, "Could not write CAN header");
        return false;
    }
    return true;
}

bool TrcWriter::write_line(const BusRecord& record) {
    // Version 1.1 has no notation for CAN FD frames: they are neither written nor numbered.
    if (version_ == kTraceVersion11 && record.details.can.edl == 1) {
        ++passed_over_.can_fd_frames;
        return true;
    }
    char* line = file_.room(trc_line_capacity(record.data.size()));
    if (line == nullptr) {
        TM_LOG(kError, "Could not write CAN data");
        return false;
    }
    double offset_ms = (record.timestamp - base_time_) * 1000;
    int32_t number = take_message_number();
    written_.count(record);
    file_.added(format_line_(line, number, offset_ms, record));
    return true;
}

bool TrcWriter::end_file(const FileInfo& info) {
    const bool ok = file_.finish(message_number_ != 1);
    log_passed_over(info);
    return ok;
}

FileOutcome TrcWriter::outcome() const {
    return file_.outcome(passed_over_, written_);
}

// One line naming the input and what of it is not in its trace.
void TrcWriter::log_passed_over(const FileInfo& info) const {
    if (passed_over_.total() == 0 || !log_enabled(kInfo)) return;
    TM_LOG(kInfo, "%s: %s not written: the trace format has no notation for them",
           escape_file_name(info.input_path).c_str(), passed_over_text(passed_over_).c_str());
}

}  // namespace

std::unique_ptr<OutputSink> trc_writer_new(FileSystemRoot* output_root, uint32_t trace_version, bool durable,
                                           bool reserved_column) {
    if (output_root == nullptr) return nullptr;
    if (trace_version != kTraceVersion11 && trace_version != kTraceVersion21) return nullptr;
    return std::unique_ptr<OutputSink>(new (std::nothrow) TrcWriter(*output_root, trace_version, durable, reserved_column));
}

}  // namespace tracemill
