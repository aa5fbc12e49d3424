// What a trace line costs: formatting prepared CAN records into the reused
// line buffer, in both trace versions, without writing them anywhere.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "mdf/bus_record.h"
#include "sample_records.h"
#include "text/number_fields.h"
#include "trc/trc_line_format.h"

namespace tracemill {
namespace {

using bench::kRecordCount;
using bench::sample_records;

template <size_t (*Format)(char*, int32_t, double, const BusRecord&)>
void BM_FormatLines(benchmark::State& state, bool with_fd) {
    const std::vector<BusRecord> records = sample_records(with_fd);
    std::vector<char> line(trc_line_capacity(64));
    int32_t number = 1;
    size_t bytes = 0;
    for (auto _ : state) {
        for (const BusRecord& r : records) {
            bytes += Format(line.data(), number++, r.timestamp * 1000, r);
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_Trc21Lines(benchmark::State& state) { BM_FormatLines<format_trc21_line>(state, true); }
void BM_Trc11Lines(benchmark::State& state) { BM_FormatLines<format_trc11_line>(state, false); }

// The offset column alone: the widest share of a line's cost when done naively.
void BM_OffsetColumn(benchmark::State& state) {
    std::mt19937_64 random(3);
    std::vector<double> offsets(kRecordCount);
    for (auto& v : offsets) v = static_cast<double>(random() % 600'000'000) / 1000.0;
    char text[64];
    for (auto _ : state) {
        for (double v : offsets) {
            benchmark::DoNotOptimize(put_fixed(text, v, 3, 13));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * offsets.size()));
}

// Typical lines of a long log: classic 8-byte frames with standard
// identifiers, offsets spread over a day, message numbers past a million.
void BM_Trc21ClassicLines(benchmark::State& state) {
    std::mt19937_64 random(5);
    std::vector<BusRecord> records(kRecordCount);
    std::vector<double> offsets(kRecordCount);
    for (size_t i = 0; i < records.size(); ++i) {
        BusRecord& r = records[i];
        r.kind = BusRecordKind::CanDataFrame;
        r.bus_channel = 1;
        r.details.can = CanDetails{};
        r.details.can.dlc = 8;
        r.id = static_cast<uint32_t>(random() & 0x7FF);
        std::vector<uint8_t> data(8);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        r.data = std::move(data);
        offsets[i] = static_cast<double>(random() % 86'400'000'000) / 1000.0;
    }
    std::vector<char> line(trc_line_capacity(8));
    int32_t number = 1'000'000;
    for (auto _ : state) {
        for (size_t i = 0; i < records.size(); ++i) {
            benchmark::DoNotOptimize(format_trc21_line(line.data(), number++, offsets[i], records[i]));
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
}

// The message number column alone.
void BM_NumberColumn(benchmark::State& state) {
    char text[32];
    int32_t number = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < kRecordCount; ++i) benchmark::DoNotOptimize(put_decimal(text, number++, 7));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecordCount));
}

BENCHMARK(BM_Trc21Lines);
BENCHMARK(BM_Trc11Lines);
BENCHMARK(BM_OffsetColumn);
BENCHMARK(BM_Trc21ClassicLines);
BENCHMARK(BM_NumberColumn);

}  // namespace
}  // namespace tracemill
