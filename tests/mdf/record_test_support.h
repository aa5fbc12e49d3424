// Opening files written by the synthetic writer and collecting the records
// the iterator yields, through memory or through the stream view.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "mdf/block_reader.h"
#include "mdf/mdf_file.h"
#include "mdf/record_iterator.h"
#include "mdf_writer.h"
#include "streams/memory_stream.h"

namespace tracemill::testing_support {

// How the reader gets at the data: by pointer into a file held in memory, or
// through the data blocks' stream views of a file that is not.
enum class ReadPath { Memory, Stream };

inline const char* path_name(ReadPath path) { return path == ReadPath::Memory ? "memory" : "stream"; }

// Hides the memory stream behind a plain stream, so the reader must seek and
// read; reads of the few bytes at `fail_from` fail, as on a failing card, by
// returning `failed_result` (an error, or 0: an end before the stream's size).
class ForwardingStream final : public ByteStream {
public:
    explicit ForwardingStream(ByteStream* inner, int64_t fail_from = INT64_MAX, int64_t failed_result = -1)
        : inner_(inner), fail_from_(fail_from), failed_result_(failed_result) {}
    int64_t read(void* dst, uint64_t count) override {
        const int64_t at = stream_tell(inner_);
        if (at >= fail_from_ && at - fail_from_ < kBadBytes) return failed_result_;
        if (at < fail_from_) count = std::min<uint64_t>(count, static_cast<uint64_t>(fail_from_ - at));
        return stream_read(inner_, dst, count);
    }
    int64_t tell() override { return stream_tell(inner_); }
    int64_t seek(int64_t offset, int32_t whence) override { return stream_seek(inner_, offset, whence); }

private:
    static constexpr int64_t kBadBytes = 4;
    ByteStream* inner_;
    int64_t fail_from_;
    int64_t failed_result_;
};

struct OpenedFile {
    std::unique_ptr<MemoryStream> memory;
    std::unique_ptr<ForwardingStream> forwarding;
    MdfFilePtr file;
};

inline OpenedFile open_bytes(const std::vector<uint8_t>& bytes, ReadPath path, int64_t fail_reads_from = INT64_MAX,
                             int64_t failed_result = -1) {
    OpenedFile opened;
    opened.memory = memory_stream_from(bytes.data(), bytes.size());
    ByteStream* stream = opened.memory.get();
    if (path == ReadPath::Stream) {
        opened.forwarding = std::make_unique<ForwardingStream>(stream, fail_reads_from, failed_result);
        stream = opened.forwarding.get();
    }
    opened.file = open_mdf(stream);
    return opened;
}

// What a test compares of a record.
struct Frame {
    double time = 0;
    BusRecordKind kind = BusRecordKind::Unsupported;
    uint32_t id = 0;
    uint8_t bus = 0;
    std::vector<uint8_t> data;

    bool operator==(const Frame&) const = default;
};

inline void PrintTo(const Frame& f, std::ostream* os) {
    *os << "{t=" << f.time << " kind=" << static_cast<int>(f.kind) << " id=" << f.id << " bus=" << int(f.bus)
        << " " << f.data.size() << " bytes}";
}

inline Frame frame_of(const BusRecord& record) {
    return {record.timestamp, record.kind, record.id, record.bus_channel, {record.data.begin(), record.data.end()}};
}

struct ReadResult {
    bool opened = false;
    double time_offset = 0;
    std::vector<Frame> frames;
    std::string log;
    std::vector<GroupEnd> early_ends;  // as the iterator reports them after the last record
    bool read_failed = false;
};

// Opens the file, takes every record and captures what was logged meanwhile.
// With `fail_reads_from`, reads through the stream path at that file offset
// fail with `failed_result`.
inline ReadResult read_frames(const tools::FileSpec& file, ReadPath path = ReadPath::Memory,
                              int64_t fail_reads_from = INT64_MAX, int64_t failed_result = -1) {
    ReadResult result;
    const tools::MdfImage image = tools::write_mdf(file);
    ::testing::internal::CaptureStderr();
    OpenedFile opened = open_bytes(image.bytes, path, fail_reads_from, failed_result);
    if (opened.file) {
        result.opened = true;
        RecordIteratorPtr iterator = begin_records(*opened.file);
        if (iterator) {
            result.time_offset = time_offset(*iterator);
            for (const BusRecord* record = current(*iterator); record; record = current(*iterator)) {
                result.frames.push_back(frame_of(*record));
                next_record(*iterator);
            }
            const auto ends = early_ends(*iterator);
            result.early_ends.assign(ends.begin(), ends.end());
            result.read_failed = read_failed(*iterator);
            end_records(std::move(iterator));
        }
    }
    result.log = ::testing::internal::GetCapturedStderr();
    return result;
}

// A logger file holding the given data groups.
inline tools::FileSpec file_with(std::vector<tools::DataGroupSpec> groups, uint64_t start_time_ns = 0) {
    tools::FileSpec file = tools::logger_file({}, start_time_ns);
    file.data_groups = std::move(groups);
    return file;
}

inline Frame can(double time, uint32_t id, std::vector<uint8_t> data, uint8_t bus = 1) {
    return {time, BusRecordKind::CanDataFrame, id, bus, std::move(data)};
}

}  // namespace tracemill::testing_support
