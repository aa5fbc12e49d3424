// A read-only view on the bytes [start, end) of a borrowed inner stream, with
// positions counted from `start`. An end of 0 or less runs to the end of the
// inner stream. Seeks are clamped into the range; closing the view leaves the
// inner stream open.
#pragma once

#include <cstdint>

#include "streams/byte_stream.h"

namespace tracemill {

class RangeStream final : public ByteStream {
public:
    RangeStream(ByteStream* inner, int64_t start, int64_t end) : inner_(inner), start_(start), end_(end) {}

    int64_t read(void* dst, uint64_t count) override;
    int64_t tell() override;
    int64_t seek(int64_t offset, int32_t whence) override;
    int32_t close() override { return 0; }

    int64_t start() const { return start_; }
    int64_t end() const { return end_; }

private:
    bool has_end() const { return end_ > 0; }

    ByteStream* inner_;
    int64_t start_;
    int64_t end_;
};

}  // namespace tracemill
