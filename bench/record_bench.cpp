// Record iteration throughput: a synthetic file of over a million CAN frames,
// classic and FD, in several data groups, decoded end to end through the
// record iterator, from memory and through the data blocks' stream views.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bus_groups.h"
#include "mdf/block_reader.h"
#include "mdf/mdf_file.h"
#include "mdf/record_iterator.h"
#include "mdf_writer.h"
#include "streams/memory_stream.h"

namespace tracemill {
namespace {

constexpr uint32_t kFramesPerGroup = 300'000;

std::vector<uint8_t> payload(uint32_t seed, size_t length) {
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(seed * 31 + i);
    return data;
}

tools::BusGroupOptions stored_in(tools::PayloadStorage payload) {
    tools::BusGroupOptions options;
    options.payload = payload;
    return options;
}

// Four data groups, 1.2 million frames: classic frames in a sorted group,
// FD frames with SD payloads, and an unsorted group mixing classic frames
// with FD frames whose payloads are VLSD records.
const std::vector<uint8_t>& synthetic_file() {
    static const std::vector<uint8_t> bytes = [] {
        tools::FileSpec file = tools::logger_file({}, 1'700'000'000'000'000'000ull);

        tools::BusDataGroup classic;
        const size_t c = classic.add_group(tools::BusGroupKind::CanDataFrame);
        for (uint32_t i = 0; i < kFramesPerGroup; ++i)
            classic.add(c, tools::can_frame(i * 1e-4, 0x100 + i % 64, payload(i, 1 + i % 8)));
        file.data_groups.push_back(classic.take());

        tools::BusDataGroup extended;
        const size_t e = extended.add_group(tools::BusGroupKind::CanDataFrame);
        for (uint32_t i = 0; i < kFramesPerGroup; ++i)
            extended.add(e, tools::can_frame(i * 1e-4 + 3e-5, 0x18DA0000 + i % 256, payload(i, 8), 2));
        file.data_groups.push_back(extended.take());

        tools::BusDataGroup fd;
        const size_t f = fd.add_group(tools::BusGroupKind::CanDataFrame, stored_in(tools::PayloadStorage::SignalData));
        for (uint32_t i = 0; i < kFramesPerGroup; ++i)
            fd.add(f, tools::fd_frame(i * 1e-4 + 5e-5, 0x200 + i % 32, payload(i, i % 2 ? 64 : 12), 3));
        file.data_groups.push_back(fd.take());

        tools::BusDataGroup mixed(1);
        const size_t m_classic = mixed.add_group(tools::BusGroupKind::CanDataFrame);
        const size_t m_fd = mixed.add_group(tools::BusGroupKind::CanDataFrame, stored_in(tools::PayloadStorage::VlsdGroup));
        for (uint32_t i = 0; i < kFramesPerGroup; ++i) {
            if (i % 2) mixed.add(m_fd, tools::fd_frame(i * 1e-4 + 7e-5, 0x300, payload(i, 32), 4));
            else mixed.add(m_classic, tools::can_frame(i * 1e-4 + 7e-5, 0x301, payload(i, 8), 4));
        }
        file.data_groups.push_back(mixed.take());
        return tools::write_mdf(file).bytes;
    }();
    return bytes;
}

// Hides the memory stream, so records go through the stream views.
class PlainStream final : public ByteStream {
public:
    explicit PlainStream(ByteStream* inner) : inner_(inner) {}
    int64_t read(void* dst, uint64_t count) override { return stream_read(inner_, dst, count); }
    int64_t tell() override { return stream_tell(inner_); }
    int64_t seek(int64_t offset, int32_t whence) override { return stream_seek(inner_, offset, whence); }

private:
    ByteStream* inner_;
};

void decode_all(benchmark::State& state, bool through_stream) {
    const std::vector<uint8_t>& bytes = synthetic_file();
    auto memory = memory_stream_from(bytes.data(), bytes.size());
    PlainStream plain(memory.get());
    ByteStream* stream = through_stream ? static_cast<ByteStream*>(&plain) : memory.get();
    uint64_t records = 0;
    for (auto _ : state) {
        MdfFilePtr file = open_mdf(stream);
        if (!file) {
            state.SkipWithError("the synthetic file did not open");
            return;
        }
        RecordIteratorPtr iterator = begin_records(*file);
        uint64_t count = 0;
        uint64_t payload_bytes = 0;
        for (const BusRecord* record = current(*iterator); record; record = current(*iterator)) {
            ++count;
            payload_bytes += record->data.size();
            next_record(*iterator);
        }
        benchmark::DoNotOptimize(payload_bytes);
        end_records(std::move(iterator));
        if (count != 4ull * kFramesPerGroup) {
            state.SkipWithError("not every frame came out");
            return;
        }
        records += count;
    }
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

void BM_RecordsFromMemory(benchmark::State& state) { decode_all(state, false); }
void BM_RecordsThroughStreams(benchmark::State& state) { decode_all(state, true); }

BENCHMARK(BM_RecordsFromMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordsThroughStreams)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tracemill
