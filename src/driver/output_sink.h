// The per-file identity handed to the output writer, the writer's interface,
// and the table through which an output format joins a run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mdf/bus_record.h"

namespace tracemill {

class FileSystemRoot;

struct FileInfo {
    std::string input_path;   // relative to the input root
    std::string output_stem;  // relative to the output root, extension removed
    std::string serial;       // logger serial number
    double start_time = 0;    // recording start, seconds since 1970
    uint32_t session = 0;
    uint32_t split = 0;
    bool encrypted = false;   // decrypted on the way in: the output is private to its owner
};

// Records of one file that the output format has no notation for, by kind.
struct PassedOverRecords {
    uint64_t lin_frames = 0;
    uint64_t lin_errors = 0;        // checksum, receive, transmission and sync errors
    uint64_t can_error_frames = 0;
    uint64_t can_fd_frames = 0;     // only formats without CAN FD pass these over
    uint64_t total() const { return lin_frames + lin_errors + can_error_frames + can_fd_frames; }
};

// The counts that are not 0, as in "15 LIN frame(s), 5 CAN error frame(s)".
std::string passed_over_text(const PassedOverRecords& records);

// Records in a published output, by kind: with several formats, the most any one of them holds.
struct WrittenFrames {
    uint64_t can_frames = 0;     // classic CAN data frames
    uint64_t can_fd_frames = 0;
    uint64_t can_remote_frames = 0;
    uint64_t can_error_frames = 0;
    uint64_t lin_frames = 0;
    uint64_t lin_errors = 0;     // checksum, receive, transmission and sync errors
    uint64_t total() const {
        return can_frames + can_fd_frames + can_remote_frames + can_error_frames + lin_frames + lin_errors;
    }
    // Counts one record written, by its kind: once per line or object, so
    // kept where the writers can inline it.
    void count(const BusRecord& record) {
        switch (record.kind) {
        case BusRecordKind::CanDataFrame: ++(record.details.can.edl ? can_fd_frames : can_frames); break;
        case BusRecordKind::CanRemoteFrame: ++can_remote_frames; break;
        case BusRecordKind::CanErrorFrame: ++can_error_frames; break;
        case BusRecordKind::LinFrame: ++lin_frames; break;
        case BusRecordKind::LinChecksumError:
        case BusRecordKind::LinReceiveError:
        case BusRecordKind::LinTransmissionError:
        case BusRecordKind::LinSyncError: ++lin_errors; break;
        default: break;
        }
    }
    void add(const WrittenFrames& other);
    // The larger count of each kind.
    void take_larger(const WrittenFrames& other);
};

// What the last end_file left behind.
struct FileOutcome {
    PassedOverRecords passed_over;
    WrittenFrames written;       // 0 when nothing was published
    std::string output_path;     // the published file, relative to the output root; empty when none
    uint64_t bytes_written = 0;  // its size
    // The output is on disk to stay (file and folder synced after the rename),
    // or there was nothing to write. False after any failure.
    bool durable = false;
    // Every published file when a sink writes several (several formats); a
    // sink that writes one leaves this empty and names it in output_path.
    std::vector<std::string> outputs;
    // Written by several formats: passed over means that none of them held it.
    bool several_formats = false;
};

// Every file the outcome names as published, relative to the output root.
std::vector<std::string> published_outputs(const FileOutcome& outcome);

// A sink that has not been given real operations fails every call.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual bool record(const BusRecord& /*record*/) { return false; }
    virtual bool new_file(const FileInfo& /*info*/, bool /*continuation*/) { return false; }
    virtual bool end_file(const FileInfo& /*info*/) { return false; }
    // Valid after end_file until the next new_file.
    virtual FileOutcome outcome() const { return {}; }
};

// An output format as the command line sees it: option rows of its own, and
// the sink it builds from them once the command line is accepted.
class OutputFormat {
public:
    virtual ~OutputFormat() = default;
    // Appends the format's argtable rows (released with the table); false when one could not be made.
    virtual bool add_options(std::vector<void*>& table) = 0;
    // Reads the values of its rows once the command line is accepted, before
    // the table (and the rows) are released.
    virtual void take_options() {}
    // The run's sink writing under `output_root`; none when it cannot be made.
    // `durable`: every published file and its folder are synced to disk.
    virtual std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) = 0;
};

}  // namespace tracemill
