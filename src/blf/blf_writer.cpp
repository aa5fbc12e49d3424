// The binary log writer: every CAN and LIN record of an input as one object,
// the objects gathered into log containers of up to 128 KiB that the
// container packer deflates with zlib while the next ones fill.
//
// The file starts with a header of zeros; the real header (sizes, object
// count, end time) replaces it once the last container is written. Object
// timestamps count nanoseconds from the file's start time, the first
// record's time cut to the millisecond the header can show. The per-record
// path encodes into the container being filled and allocates nothing; the
// packer's buffers, zlib streams and threads live as long as the sink.
#include "blf/blf_writer.h"

#include <cmath>
#include <cstring>
#include <new>
#include <span>
#include <thread>

#include "blf/blf_file_header.h"
#include "blf/blf_layout.h"
#include "blf/blf_objects.h"
#include "blf/container_packer.h"
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

    bool start(int level, unsigned threads) {
        if (!packer_.start(level, threads)) return false;
        objects_ = packer_.objects();
        return true;
    }

    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;
    FileOutcome outcome() const override;

private:
    void begin_timeline(double timestamp);
    uint64_t offset_ns(double timestamp) const;
    bool submit_container();
    bool write_oldest_container();
    bool write_header();

    OutputFile file_;
    ContainerPacker packer_;
    uint8_t* objects_ = nullptr;  // the container being filled, from the packer
    size_t objects_size_ = 0;

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

bool BlfWriter::new_file(const FileInfo& info, bool /*continuation*/) {
    // Every input gets a file of its own, continuation or not. Containers of
    // an input given up on are still being deflated: they are dropped here.
    size_t ignored = 0;
    while (packer_.pending()) packer_.take_oldest(&ignored);
    objects_ = packer_.objects();
    objects_size_ = 0;
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
    if (kContainerCapacity - objects_size_ < kMaxObjectSize && !submit_container()) return false;
    if (object_count_ == 0) begin_timeline(record.timestamp);
    if (record.timestamp > last_time_) last_time_ = record.timestamp;
    objects_size_ += encode_object(objects_ + objects_size_, record, offset_ns(record.timestamp));
    if (object_count_ < UINT32_MAX) ++object_count_;
    written_.count(record);
    return true;
}

// Hands the filled container to the packer and writes what it has packed
// when every slot is taken.
bool BlfWriter::submit_container() {
    if (objects_size_ == 0) return true;
    packer_.submit(objects_size_);
    objects_size_ = 0;
    const bool ok = !packer_.full() || write_oldest_container();
    objects_ = packer_.objects();
    return ok;
}

// The oldest packed container into the file, behind the placeholder header
// when it is the first.
bool BlfWriter::write_oldest_container() {
    size_t uncompressed = 0;
    const std::span<const uint8_t> container = packer_.take_oldest(&uncompressed);
    if (container.empty()) {
        broken_ = true;
        return false;
    }
    if (file_size_ == 0) {
        const char zeros[kFileHeaderSize] = {};
        if (!file_.write(zeros, sizeof zeros)) {
            TM_LOG(kError, "Could not write BLF data");
            broken_ = true;
            return false;
        }
        file_size_ = kFileHeaderSize;
    }
    if (!file_.write(reinterpret_cast<const char*>(container.data()), container.size())) {
        TM_LOG(kError, "Could not write BLF data");
        broken_ = true;
        return false;
    }
    file_size_ += container.size();
    uncompressed_size_ += kContainerHeaderSize + uncompressed;
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
    bool complete = !broken_;
    if (object_count_ > 0 && complete) {
        complete = submit_container();
        while (complete && packer_.pending()) complete = write_oldest_container();
        complete = complete && write_header();
    }
    const bool finished = file_.finish(object_count_ > 0 && complete);
    return complete && finished;
}

FileOutcome BlfWriter::outcome() const { return file_.outcome({}, written_); }

// One deflating thread per core beside the converting one, when there are several.
unsigned default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : cores < 4 ? cores : 4;
}

}  // namespace

std::unique_ptr<OutputSink> blf_writer_new(FileSystemRoot* output_root, int level, bool durable, int threads) {
    if (output_root == nullptr || level < 0 || level > 9) return nullptr;
    std::unique_ptr<BlfWriter> writer(new (std::nothrow) BlfWriter(*output_root, durable));
    if (!writer || !writer->start(level, threads < 0 ? default_threads() : static_cast<unsigned>(threads)))
        return nullptr;
    return writer;
}

}  // namespace tracemill
