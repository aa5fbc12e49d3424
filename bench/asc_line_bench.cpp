// What an ASCII trace line costs: formatting prepared CAN records into the
// reused line buffer without writing them anywhere. The records are those of
// BM_Trc21Lines, whose rate this one is measured against.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "asc/asc_line_format.h"
#include "mdf/bus_record.h"
#include "sample_records.h"

namespace tracemill {
namespace {

using bench::sample_records;

void BM_AscLines(benchmark::State& state) {
    const std::vector<BusRecord> records = sample_records(true);
    std::vector<char> line(asc_line_capacity(64));
    size_t bytes = 0;
    for (auto _ : state) {
        for (const BusRecord& r : records) {
            bytes += format_asc_line(line.data(), r.timestamp, r);
            benchmark::DoNotOptimize(line.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(BM_AscLines);

}  // namespace
}  // namespace tracemill
