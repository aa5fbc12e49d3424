// Fuzz target: a plain MDF4 file from open to the last trace line, the way
// convert_file drives it, with the trace file kept in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/file_info.h"
#include "driver/file_system_root.h"
#include "fuzz_support.h"
#include "mdf/mdf_file.h"
#include "mdf/metadata.h"
#include "mdf/record_iterator.h"
#include "streams/memory_stream.h"
#include "trc/trc_line_format.h"
#include "trc/trc_writer.h"

using namespace tracemill;

namespace {

// Output files are discarded as they are written; only their size is kept so
// the writer's output is at least looked at.
class DiscardingRoot final : public FileSystemRoot {
public:
    DiscardingRoot() : FileSystemRoot("memory") {}
    std::unique_ptr<StagedFile> create_staged(std::string_view, uint32_t) override {
        return std::make_unique<Sink>(written);
    }
    uint64_t written = 0;

private:
    class Sink final : public StagedFile {
    public:
        explicit Sink(uint64_t& written) : written_(written) {}
        int64_t write(const void*, uint64_t count) override {
            written_ += count;
            return static_cast<int64_t>(count);
        }
        bool commit(bool) override { return true; }
        bool discard() override { return true; }

    private:
        uint64_t& written_;
    };
};

void convert(MdfFile& file, uint32_t trace_version) {
    FileInfo info;
    info.input_path = "fuzz.mf4";
    info.output_stem = "fuzz";
    if (!read_file_info(file, info)) return;
    DiscardingRoot root;
    auto sink = trc_writer_new(&root, trace_version, false);
    if (!sink || !sink->new_file(info, false)) return;
    if (RecordIteratorPtr records = begin_records(file)) {
        for (const BusRecord* record = current(*records); record; record = current(*records)) {
            if (!sink->record(*record)) break;
            next_record(*records);
        }
        end_records(std::move(records));
    }
    sink->end_file(info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence_log();
    StreamPtr input = memory_stream_from(data, size);
    if (!input) return 0;
    if (MdfFilePtr file = open_mdf(input.get())) {
        MetadataMap metadata = read_header_metadata(*file);
        (void)metadata.size();
        // The last byte picks the trace version so both line formats are covered.
        convert(*file, size > 0 && (data[size - 1] & 1) ? kTraceVersion11 : kTraceVersion21);
    }
    return 0;
}
