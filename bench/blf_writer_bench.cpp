// What a binary log costs beside a trace: the same frames through the BLF
// sink (objects, zlib containers, header) and through the TRC 2.1 sink, each
// writing one file per iteration to a folder under /tmp. Wall time: the BLF
// sink deflates on threads of its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "blf/blf_writer.h"
#include "common/log.h"
#include "driver/file_system_root.h"
#include "mdf/bus_record.h"
#include "trc/trc_line_format.h"
#include "trc/trc_writer.h"

namespace tracemill {
namespace {

constexpr size_t kRecordCount = 4096;
constexpr size_t kRounds = 16;  // records per file: kRecordCount × kRounds

// Mostly classic 8-byte frames, every 16th a CAN FD frame of 64 bytes, some
// error frames; timestamps a few hundred microseconds apart.
std::vector<BusRecord> sample_records() {
    std::mt19937_64 random(11);
    std::vector<BusRecord> records(kRecordCount);
    double time = 1'700'000'000.0;
    for (size_t i = 0; i < records.size(); ++i) {
        BusRecord& r = records[i];
        time += static_cast<double>(random() % 1000) * 1e-6;
        r.timestamp = time;
        r.kind = i % 100 == 7 ? BusRecordKind::CanErrorFrame : BusRecordKind::CanDataFrame;
        r.bus_channel = static_cast<uint8_t>(1 + random() % 2);
        r.details.can = CanDetails{};
        r.id = static_cast<uint32_t>(random() & 0x7FF);
        size_t length = 8;
        if (i % 16 == 0) {
            r.details.can.edl = 1;
            r.details.can.brs = 1;
            length = 64;
            r.details.can.dlc = 15;
        } else {
            r.details.can.dlc = 8;
        }
        // Signals change slowly: a counter and a few varying bytes, the rest steady.
        std::vector<uint8_t> data(length);
        for (size_t b = 0; b < length; ++b) data[b] = static_cast<uint8_t>(b < 2 ? random() : b * 3);
        r.data = std::move(data);
    }
    return records;
}

// One file per iteration through `sink`, removed again so the disk stays clean.
void write_files(benchmark::State& state, OutputSink& sink, const std::string& folder, const char* suffix) {
    const std::vector<BusRecord> records = sample_records();
    uint64_t file_number = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        FileInfo info;
        info.output_stem = "run" + std::to_string(file_number++);
        sink.new_file(info, false);
        for (size_t round = 0; round < kRounds; ++round)
            for (const BusRecord& r : records) sink.record(r);
        if (!sink.end_file(info)) state.SkipWithError("the file could not be written");
        bytes += sink.outcome().bytes_written;
        unlink((folder + "/" + info.output_stem + suffix).c_str());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRounds * records.size()));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

struct BenchFolder {
    std::string path;
    std::unique_ptr<FileSystemRoot> root;
    BenchFolder() {
        char pattern[] = "/tmp/tracemill_bench_XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
        root = local_root_new(path);
    }
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void BM_BlfSink(benchmark::State& state) {
    BenchFolder folder;
    auto sink = blf_writer_new(folder.root.get(), static_cast<int>(state.range(0)), false,
                               static_cast<int>(state.range(1)));
    if (!sink) return state.SkipWithError("no BLF sink");
    write_files(state, *sink, folder.path, ".blf");
}

void BM_Trc21Sink(benchmark::State& state) {
    BenchFolder folder;
    set_log_threshold(kWarn);  // not the note on error frames the trace leaves out, once per file
    auto sink = trc_writer_new(folder.root.get(), kTraceVersion21, false);
    if (!sink) return state.SkipWithError("no trace sink");
    write_files(state, *sink, folder.path, "_CAN.trc");
}

BENCHMARK(BM_Trc21Sink)->UseRealTime()->Unit(benchmark::kMillisecond);
// Arguments: zlib level, deflating threads (-1: the default, one per core).
BENCHMARK(BM_BlfSink)
    ->Args({1, -1})
    ->Args({1, 0})
    ->Args({6, -1})
    ->Args({0, -1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tracemill
