// Throughput of opening compressed and encrypted containers, in bytes of
// content per second. Decryption uses one PBKDF2 round, so key derivation
// does not count against the cipher; it is measured copying from a borrowed
// container and in the container's own memory.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "container_writer.h"
#include "heatshrink_encoder.h"
#include "mdf_generator.h"
#include "streams/compressed_container.h"
#include "streams/container_header.h"
#include "streams/encrypted_container.h"
#include "streams/heatshrink_decoder.h"
#include "streams/memory_stream.h"

namespace {

using namespace tracemill;

// Log-like content: record-sized stretches that mostly repeat earlier ones
// with a few changed bytes (counters, timestamps, payload bytes).
std::vector<uint8_t> log_like_content(size_t n) {
    std::mt19937 random(42);
    std::vector<uint8_t> out;
    out.reserve(n);
    while (out.size() < n) {
        const size_t record = 24;
        if (out.size() < 4096) {
            out.push_back(static_cast<uint8_t>(random()));
            continue;
        }
        const size_t from = out.size() - record * (1 + random() % 64);
        for (size_t i = 0; i < record && out.size() < n; ++i) {
            const uint8_t byte = out[from + i];
            out.push_back(random() % 6 == 0 ? static_cast<uint8_t>(random()) : byte);
        }
    }
    return out;
}

constexpr size_t kContentSize = 16 << 20;

void BM_DecoderOnly(benchmark::State& state) {
    const std::vector<uint8_t> content = log_like_content(kContentSize);
    const std::vector<uint8_t> payload = tools::heatshrink_encode(content.data(), content.size(), 11, 4);
    std::vector<uint8_t> out(4096);
    for (auto _ : state) {
        DecoderPtr decoder(decoder_new(1024, 11, 4));
        size_t offset = 0;
        size_t total = 0;
        for (;;) {
            size_t produced = 0;
            const int32_t polled = decoder_poll(decoder.get(), out.data(), out.size(), &produced);
            total += produced;
            if (polled == kPollOutputFull) continue;
            if (offset == payload.size()) break;
            size_t taken = 0;
            const size_t n = std::min<size_t>(1024, payload.size() - offset);
            decoder_sink(decoder.get(), payload.data() + offset, n, &taken);
            offset += taken;
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
    state.counters["ratio"] = static_cast<double>(content.size()) / static_cast<double>(payload.size());
}
BENCHMARK(BM_DecoderOnly)->Unit(benchmark::kMillisecond);

void BM_OpenCompressedContainer(benchmark::State& state) {
    const std::vector<uint8_t> content = log_like_content(kContentSize);
    tools::CompressOptions options;
    options.window_bits = static_cast<unsigned>(state.range(0));
    options.lookahead_bits = static_cast<unsigned>(state.range(1));
    const std::vector<uint8_t> container = tools::write_compressed_container(content.data(), content.size(), options);
    auto source = memory_stream_from(container.data(), container.size());
    ContainerHeader header;
    read_container_header(source.get(), header);
    for (auto _ : state) {
        StreamPtr opened = open_decompressed_stream(source.get(), header);
        if (!opened) state.SkipWithError("decompression failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_OpenCompressedContainer)->Args({11, 4})->Args({8, 4})->Args({13, 6})->Unit(benchmark::kMillisecond);

// A generated bus log, closer to what loggers compress than the byte soup above.
void BM_OpenCompressedLog(benchmark::State& state) {
    tools::GeneratorOptions generator;
    generator.frames = 400000;
    const std::vector<uint8_t> content = tools::write_mdf(tools::generate_log(generator)).bytes;
    const std::vector<uint8_t> container = tools::write_compressed_container(content.data(), content.size(), {});
    auto source = memory_stream_from(container.data(), container.size());
    ContainerHeader header;
    read_container_header(source.get(), header);
    for (auto _ : state) {
        StreamPtr opened = open_decompressed_stream(source.get(), header);
        if (!opened) state.SkipWithError("decompression failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
    state.counters["MB"] = static_cast<double>(content.size()) / 1e6;
    state.counters["ratio"] = static_cast<double>(content.size()) / static_cast<double>(container.size());
}
BENCHMARK(BM_OpenCompressedLog)->Unit(benchmark::kMillisecond);

void BM_OpenEncryptedContainer(benchmark::State& state) {
    const std::vector<uint8_t> content = log_like_content(kContentSize);
    tools::EncryptOptions options;
    options.password = "bench";
    options.iterations = 1;
    const std::vector<uint8_t> container = tools::write_encrypted_container(content.data(), content.size(), options);
    auto source = memory_stream_from(container.data(), container.size());
    ContainerHeader header;
    read_container_header(source.get(), header);
    for (auto _ : state) {
        StreamPtr opened = open_decrypted_stream(source.get(), header, "bench");
        if (!opened) state.SkipWithError("decryption failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_OpenEncryptedContainer)->Unit(benchmark::kMillisecond);

// The converter's way: the container is already whole in memory and
// becomes the plaintext. Copying it in for each round (reading the file) is
// not timed.
void BM_DecryptInPlace(benchmark::State& state) {
    const std::vector<uint8_t> content = log_like_content(kContentSize);
    tools::EncryptOptions options;
    options.password = "bench";
    options.iterations = 1;
    const std::vector<uint8_t> container = tools::write_encrypted_container(content.data(), content.size(), options);
    for (auto _ : state) {
        state.PauseTiming();
        auto source = memory_stream_from(container.data(), container.size());
        ContainerHeader header;
        read_container_header(source.get(), header);
        state.ResumeTiming();
        StreamPtr opened = open_decrypted_in_place(source.get(), header, "bench");
        if (!opened) state.SkipWithError("decryption failed");
        // Releasing the plaintext wipes it, in the timing as in a conversion.
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}
BENCHMARK(BM_DecryptInPlace)->Unit(benchmark::kMillisecond);

}  // namespace
