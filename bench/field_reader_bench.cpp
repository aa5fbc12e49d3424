// What a stored field costs: little-endian fields read through a FieldReader
// over a BufferedStream that holds a whole temporary file, as the MDF4 reader
// does with the default input buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "streams/buffered_stream.h"
#include "streams/field_reader.h"

namespace tracemill {
namespace {

constexpr int64_t kFieldCount = 300000;
constexpr size_t kFileSize = kFieldCount * 8;

// A temporary file of kFileSize bytes, opened behind a whole-file window.
class WholeFileFixture {
public:
    WholeFileFixture() {
        char name[] = "/tmp/tracemill_field_bench_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) return;
        path_ = name;
        std::vector<uint8_t> bytes(kFileSize);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
        const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!written) return;
        StreamPtr file = open_file_stream(path_, kFileRead);
        const int64_t size = stream_size(file.get());
        if (size <= 0) return;
        stream_ = open_buffered_stream(std::move(file), static_cast<uint64_t>(size));
        uint8_t first;
        stream_read(stream_.get(), &first, 1);  // loads the whole file, as the first MDF4 read does
    }
    ~WholeFileFixture() {
        stream_.reset();  // before the file goes
        if (!path_.empty()) std::remove(path_.c_str());
    }
    ByteStream* stream() const { return stream_.get(); }

private:
    std::string path_;
    StreamPtr stream_;
};

void BM_SequentialU32(benchmark::State& state) {
    WholeFileFixture fixture;
    if (!fixture.stream()) return state.SkipWithError("could not create the temporary file");
    for (auto _ : state) {
        stream_seek(fixture.stream(), 0, kSeekSet);
        FieldReader reader = FieldReader::at(fixture.stream());
        uint32_t sum = 0, value = 0;
        for (int64_t i = 0; i < kFieldCount; ++i) {
            reader.read_u32(value);
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kFieldCount);
}
BENCHMARK(BM_SequentialU32);

// The shape of an MDF4 block header and its links: mixed widths.
void BM_BlockShapedFields(benchmark::State& state) {
    WholeFileFixture fixture;
    if (!fixture.stream()) return state.SkipWithError("could not create the temporary file");
    constexpr int64_t kBlocks = kFieldCount / 6;  // 6 fields, 32 bytes each
    for (auto _ : state) {
        stream_seek(fixture.stream(), 0, kSeekSet);
        FieldReader reader = FieldReader::at(fixture.stream());
        uint64_t sum = 0, length = 0, link = 0;
        uint32_t id = 0;
        uint16_t flags = 0;
        uint8_t kind = 0;
        for (int64_t b = 0; b < kBlocks; ++b) {
            reader.read_u32(id);
            reader.skip(4);
            reader.read_u64(length);
            reader.read_u64(link);
            reader.read_u16(flags);
            reader.read_u8(kind);
            reader.read_u8(kind);
            reader.skip(4);
            sum += id + length + link + flags + kind;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks * 6);
}
BENCHMARK(BM_BlockShapedFields);

// Fields scattered over the file, as when following block links.
void BM_ScatteredU64(benchmark::State& state) {
    WholeFileFixture fixture;
    if (!fixture.stream()) return state.SkipWithError("could not create the temporary file");
    std::vector<int64_t> offsets(kFieldCount);
    uint64_t x = 88172645463325252ull;
    for (int64_t& offset : offsets) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        offset = static_cast<int64_t>(x % (kFileSize - 8));
    }
    for (auto _ : state) {
        stream_seek(fixture.stream(), 0, kSeekSet);
        FieldReader base = FieldReader::at(fixture.stream());
        uint64_t sum = 0, value = 0;
        for (int64_t offset : offsets) {
            FieldReader reader = base;
            reader.skip(offset);
            reader.read_u64(value);
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kFieldCount);
}
BENCHMARK(BM_ScatteredU64);

}  // namespace
}  // namespace tracemill
