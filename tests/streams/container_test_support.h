// Helpers for the compressed and encrypted container tests: content that
// mixes noise with repeats (so encoders find both literals and matches), a
// destination that runs out of room, and reading a whole stream back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "streams/byte_stream.h"
#include "streams/memory_stream.h"

namespace tracemill::testing_support {

// Random bytes interleaved with runs and copies of earlier stretches.
inline std::vector<uint8_t> mixed_content(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out;
    out.reserve(n);
    while (out.size() < n) {
        const uint32_t kind = random() % 3;
        const size_t length = 1 + random() % 300;
        for (size_t i = 0; i < length && out.size() < n; ++i) {
            if (kind == 0 || out.empty()) {
                out.push_back(static_cast<uint8_t>(random()));
            } else if (kind == 1) {
                out.push_back(out.back());
            } else {
                const size_t distance = 1 + random() % std::min<size_t>(out.size(), 40000);
                out.push_back(out[out.size() - distance]);
            }
        }
    }
    return out;
}

inline std::vector<uint8_t> bytes_of(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

// A write-only destination that accepts `limit` bytes in total and then
// fails, as a memory stream does when it cannot grow.
class ExhaustedDestination final : public ByteStream {
public:
    explicit ExhaustedDestination(uint64_t limit) : limit_(limit) {}
    int64_t write(const void*, uint64_t count) override {
        if (accepted + count > limit_) return -1;
        accepted += count;
        return static_cast<int64_t>(count);
    }
    uint64_t accepted = 0;

private:
    uint64_t limit_;
};

// Everything from position 0 to the end.
inline std::vector<uint8_t> read_all(ByteStream* stream) {
    std::vector<uint8_t> out;
    if (stream_seek(stream, 0, kSeekSet) != 0) return out;
    uint8_t chunk[4096];
    for (;;) {
        const int64_t got = stream_read(stream, chunk, sizeof chunk);
        if (got <= 0) break;
        out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}

inline std::unique_ptr<MemoryStream> stream_over(const std::vector<uint8_t>& bytes) {
    return memory_stream_from(bytes.data(), bytes.size());
}

// Standard error written while `action` runs.
template <class Action>
std::string stderr_of(Action&& action) {
    ::testing::internal::CaptureStderr();
    action();
    return ::testing::internal::GetCapturedStderr();
}

}  // namespace tracemill::testing_support
