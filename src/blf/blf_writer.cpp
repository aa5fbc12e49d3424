// The binary log writer: every CAN and LIN record of an input as one object,
// the objects gathered into log containers of up to 128 KiB that are deflated
// with zlib one at a time.
//
// The file starts with a header of zeros; the real header (sizes, object
// count, end time) replaces it once the last container is written. Object
// timestamps count nanoseconds from the file's start time, the first
// record's time cut to the millisecond the header can show. The per-record
// path encodes into the container buffer and allocates nothing; the zlib
// stream and both buffers live as long as the sink.
#include "blf/blf_writer.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "blf/blf_file_header.h"
#include "blf/blf_layout.h"
#include "blf/blf_objects.h"
#include "common/log.h"
#include "driver/output_file.h"

namespace tracemill {
namespace {

using namespace blf;

constexpr OutputFileMessages kBlfFileMessages{
    "Could not open output file for BLF: %s",
    "Could not close BLF file",
    "Could not remove BLF file",
};

// Whole milliseconds at or before `seconds`; 0 for a time that is not finite.
int64_t floor_milliseconds(double seconds) {
    const double ms = std::floor(seconds * 1000);
    if (!(std::fabs(ms) < 9.0e15)) return 0;
    return static_cast<int64_t>(ms);
}

class BlfWriter final : public OutputSink {
public:
    BlfWriter(FileSystemRoot& output_root, bool durable) : file_(output_root, kBlfFileMessages, durable) {}
    ~BlfWriter() override {
        if (deflating_) deflateEnd(&stream_);
    }

    // Sets up the compressor and the buffers; false (logged) when that fails.
    bool start(int level);

    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;
    FileOutcome outcome() const override;

private:
    void begin_timeline(double timestamp);
    uint64_t offset_ns(double timestamp) const;
    bool flush_container();
    bool write_header();
    void count_written(const BusRecord& record);

    OutputFile file_;
    z_stream stream_{};
    bool deflating_ = false;
    std::vector<uint8_t> container_;  // objects of the container being filled
    size_t container_used_ = 0;
    std::vector<uint8_t> packed_;     // the container object: headers, deflated data, padding

    // The current input's file.
    bool broken_ = false;            // a write failed: the file is lost, said once
    uint64_t file_size_ = 0;         // bytes handed to the file
    uint64_t uncompressed_size_ = 0;
    uint32_t object_count_ = 0;
    int64_t start_ms_ = 0;
    double start_second_ = 0;        // start_ms_ in whole seconds, exact in a double
    int64_t start_ns_into_second_ = 0;
    double last_time_ = 0;
    WrittenFrames written_;
};

bool BlfWriter::start(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        TM_LOG(kError, "Could not set up the BLF compressor");
        return false;
    }
    deflating_ = true;
    container_.resize(kContainerCapacity);
    packed_.resize(kContainerHeaderSize + deflateBound(&stream_, kContainerCapacity) + 3);
    return true;
}

bool BlfWriter::new_file(const FileInfo& info, bool /*continuation*/) {
    // Every input gets a file of its own, continuation or not.
    container_used_ = 0;
    broken_ = false;
    file_size_ = 0;
    uncompressed_size_ = kFileHeaderSize;
    object_count_ = 0;
    written_ = {};
    return file_.begin(info.output_stem + ".blf", info.encrypted ? kPrivateFileMode : kSharedFileMode);
}

void BlfWriter::begin_timeline(double timestamp) {
    start_ms_ = floor_milliseconds(timestamp);
    const int64_t second = start_ms_ >= 0 ? start_ms_ / 1000 : -((999 - start_ms_) / 1000);
    start_second_ = static_cast<double>(second);
    start_ns_into_second_ = (start_ms_ - second * 1000) * 1'000'000;
    last_time_ = timestamp;
}

uint64_t BlfWriter::offset_ns(double timestamp) const {
    // From the whole second first: that difference is exact, the nanoseconds stay.
    const double ns = (timestamp - start_second_) * 1e9 - static_cast<double>(start_ns_into_second_);
    if (!(ns > 0)) return 0;  // before the start (or not a number)
    if (ns >= 1.8e19) return UINT64_MAX;
    return static_cast<uint64_t>(std::llround(ns));
}

bool BlfWriter::record(const BusRecord& record) {
    if (broken_) return false;
    if (!has_object(record.kind)) return true;
    if (kContainerCapacity - container_used_ < kMaxObjectSize && !flush_container()) return false;
    if (object_count_ == 0) begin_timeline(record.timestamp);
    if (record.timestamp > last_time_) last_time_ = record.timestamp;
    container_used_ += encode_object(container_.data() + container_used_, record, offset_ns(record.timestamp));
    if (object_count_ < UINT32_MAX) ++object_count_;
    count_written(record);
    return true;
}

void BlfWriter::count_written(const BusRecord& record) {
    if (record.kind == BusRecordKind::CanRemoteFrame) ++written_.can_remote_frames;
    else if (record.kind != BusRecordKind::CanDataFrame) return;
    else if (record.details.can.edl) ++written_.can_fd_frames;
    else ++written_.can_frames;
}

// Deflates the filled container into one container object and hands it to
// the file, behind the placeholder header when it is the first.
bool BlfWriter::flush_container() {
    if (container_used_ == 0) return true;
    if (file_size_ == 0) {
        uint8_t zeros[kFileHeaderSize] = {};
        if (!file_.write(reinterpret_cast<const char*>(zeros), sizeof zeros)) {
            TM_LOG(kError, "Could not write BLF data");
            broken_ = true;
            return false;
        }
        file_size_ = kFileHeaderSize;
    }
    deflateReset(&stream_);
    stream_.next_in = container_.data();
    stream_.avail_in = static_cast<uInt>(container_used_);
    stream_.next_out = packed_.data() + kContainerHeaderSize;
    stream_.avail_out = static_cast<uInt>(packed_.size() - kContainerHeaderSize - 3);
    const int result = deflate(&stream_, Z_FINISH);
    if (result != Z_STREAM_END) {
        TM_LOG(kError, "Could not compress BLF data: %s", zError(result));
        broken_ = true;
        return false;
    }
    const size_t object_size = kContainerHeaderSize + stream_.total_out;
    uint8_t* out = packed_.data();
    std::memcpy(out, "LOBJ", 4);
    put_u16(out + 4, kBaseHeaderSize);
    put_u16(out + 6, 1);
    put_u32(out + 8, static_cast<uint32_t>(object_size));
    put_u32(out + 12, static_cast<uint32_t>(ObjectType::LogContainer));
    std::memset(out + kBaseHeaderSize, 0, kContainerHeaderSize - kBaseHeaderSize);
    put_u16(out + kBaseHeaderSize, kDeflateMethod);
    put_u32(out + kBaseHeaderSize + 8, static_cast<uint32_t>(container_used_));
    const size_t padding = object_size % 4;
    std::memset(out + object_size, 0, padding);
    if (!file_.write(reinterpret_cast<const char*>(out), object_size + padding)) {
        TM_LOG(kError, "Could not write BLF data");
        broken_ = true;
        return false;
    }
    file_size_ += object_size + padding;
    uncompressed_size_ += kContainerHeaderSize + container_used_;
    container_used_ = 0;
    return true;
}

bool BlfWriter::write_header() {
    uint8_t header[kFileHeaderSize];
    encode_file_header(header, FileSummary{file_size_, uncompressed_size_, object_count_, start_ms_,
                                           floor_milliseconds(last_time_)});
    if (!file_.overwrite(0, reinterpret_cast<const char*>(header), sizeof header)) {
        TM_LOG(kError, "Could not write BLF header");
        return false;
    }
    return true;
}

bool BlfWriter::end_file(const FileInfo& /*info*/) {
    const bool keep = object_count_ > 0 && !broken_;
    const bool complete = !keep || (flush_container() && write_header());
    const bool finished = file_.finish(keep && complete);
    return complete && finished && !broken_;
}

FileOutcome BlfWriter::outcome() const {
    FileOutcome outcome{{}, {}, {}, 0, file_.durable()};
    if (!file_.published()) return outcome;
    outcome.written = written_;
    outcome.output_path = file_.path();
    outcome.bytes_written = file_.bytes_written();
    return outcome;
}

}  // namespace

std::unique_ptr<OutputSink> blf_writer_new(FileSystemRoot* output_root, int level, bool durable) {
    if (output_root == nullptr || level < 0 || level > 9) return nullptr;
    std::unique_ptr<BlfWriter> writer(new (std::nothrow) BlfWriter(*output_root, durable));
    if (!writer || !writer->start(level)) return nullptr;
    return writer;
}

}  // namespace tracemill
