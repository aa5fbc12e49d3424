// The trace writer: one trace file per converted input, CAN frames only.
//
// A trace file is created when a file starts, gets its header at the first
// CAN frame (whose timestamp becomes the file's time base) and is removed at
// the end when no frame line was written into it.
#include "trc/trc_writer.h"

#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "common/hash_map.h"
#include "common/log.h"
#include "trc/trc_line_format.h"

namespace tracemill {
namespace {

// Open request for trace files: write, plus a bit every root ignores.
constexpr int32_t kOpenTraceFile = OPEN_WRITE | 4;

class TrcWriter final : public OutputSink {
public:
    TrcWriter(FileSystemRoot* output_root, uint32_t version) : output_root_(output_root), version_(version) {
        // Room for any classic or FD frame line: long lines are the rare exception.
        line_.resize(trc_line_capacity(64));
    }
    ~TrcWriter() override {
        // The file is left as it is: only end_file decides whether it stays.
        if (stream_) stream_close(std::move(stream_));
    }

    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;

private:
    bool write_header();
    bool write_line(const BusRecord& record);
    // Message number as printed by "%d": its low 32 bits, signed.
    int32_t take_message_number() { return static_cast<int32_t>(static_cast<uint32_t>(message_number_++)); }

    FileSystemRoot* output_root_;  // not owned
    uint32_t version_;
    StreamPtr stream_;            // the open trace file, none between files
    std::string path_;            // trace file path relative to output_root_
    bool file_created_ = false;   // this file's trace file was opened by us
    bool header_written_ = false;
    double base_time_ = std::numeric_limits<double>::quiet_NaN();  // first CAN frame's timestamp
    uint64_t message_number_ = 1;  // number of the next frame line
    std::vector<char> line_;       // reused for every line; grows for long lines only
    // Trace files kept in this run. Inputs whose names differ only in the
    // extension or its case (a.mf4, a.MF4, a.mfc) share an output path; the
    // later one must not overwrite what the earlier one produced.
    HashMap<std::string, bool> kept_paths_;
};

bool TrcWriter::new_file(const FileInfo& info, bool /*continuation*/) {
    // Every input gets a trace file of its own, continuation or not.
    if (stream_) stream_close(std::move(stream_));
    // Reset before opening, so a failed open never inherits the previous file's state.
    header_written_ = false;
    file_created_ = false;
    message_number_ = 1;
    base_time_ = std::numeric_limits<double>::quiet_NaN();
    path_ = info.output_stem;
    path_ += "_CAN.trc";
    if (kept_paths_.contains(path_)) {
        TM_LOG(kError, "Output file already written in this run: %s", path_.c_str());
        return false;
    }

    stream_ = output_root_->open(path_, kOpenTraceFile);
    if (!stream_) {
        TM_LOG(kError, "Could not open output file for CAN: %s", path_.c_str());
        return false;
    }
    file_created_ = true;
    return true;
}

bool TrcWriter::record(const BusRecord& record) {
    if (record.kind != BusRecordKind::CanDataFrame && record.kind != BusRecordKind::CanRemoteFrame) return true;
    if (!header_written_) {
        base_time_ = record.timestamp;
        // On failure the next CAN record tries again with its own timestamp.
        if (!write_header()) return false;
        header_written_ = true;
    }
    return write_line(record);
}

bool TrcWriter::write_header() {
    std::string header = format_trc_header(version_, base_time_);
    if (stream_write(stream_.get(), header.data(), header.size()) != static_cast<int64_t>(header.size())) {
        TM_LOG(kError, "Could not write CAN header");
        return false;
    }
    return true;
}

bool TrcWriter::write_line(const BusRecord& record) {
    // Version 1.1 has no notation for CAN FD frames: they are neither written nor counted.
    if (version_ == kTraceVersion11 && record.details.can.edl == 1) return true;

    size_t needed = trc_line_capacity(record.data.size());
    if (line_.size() < needed) line_.resize(needed);
    double offset_ms = (record.timestamp - base_time_) * 1000;
    int32_t number = take_message_number();
    size_t length = version_ == kTraceVersion11 ? format_trc11_line(line_.data(), number, offset_ms, record)
                                                : format_trc21_line(line_.data(), number, offset_ms, record);
    if (stream_write(stream_.get(), line_.data(), length) != static_cast<int64_t>(length)) {
        TM_LOG(kError, "Could not write CAN data");
        return false;
    }
    return true;
}

bool TrcWriter::end_file(const FileInfo& /*info*/) {
    bool ok = true;
    if (stream_ && stream_close(std::move(stream_)) != 0) {
        TM_LOG(kError, "Could not close CAN file");
        ok = false;
    }
    stream_.reset();
    if (header_written_ && message_number_ != 1) {
        kept_paths_.insert(path_, true);
        return ok;
    }
    // A trace file that could not be opened was not created by this run: a file
    // of that name, if any, is someone else's and stays.
    if (!file_created_) return ok;
    file_created_ = false;
    if (!output_root_->remove(path_)) {
        TM_LOG(kError, "Could not remove CAN file");
        return false;
    }
    return ok;
}

}  // namespace

std::unique_ptr<OutputSink> trc_writer_new(FileSystemRoot* output_root, uint32_t trace_version) {
    if (output_root == nullptr) return nullptr;
    if (trace_version != kTraceVersion11 && trace_version != kTraceVersion21) return nullptr;
    return std::unique_ptr<OutputSink>(new (std::nothrow) TrcWriter(output_root, trace_version));
}

}  // namespace tracemill
