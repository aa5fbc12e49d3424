// A plain input file mapped read-only: its bytes are the system's page cache,
// which the system can take back under memory pressure, instead of a copy in
// anonymous memory, so a file larger than memory converts.
//
// The mapping is lent through contents() but never handed over: nothing may
// write into a file's pages (a container decrypted from it copies).
//
// A page the system cannot bring in (a device failing under the file, or the
// file cut short by another process) raises SIGBUS on access. The handler
// puts zero pages in place of the mapping's rest and notes the failure for
// the thread, so the reader goes on over zeros and the file's failure is
// taken afterwards (take_mapped_input_failure); the process never dies of a
// fault in a mapping of this thread.
#pragma once

#include <cstdint>

#include "streams/byte_stream.h"

namespace tracemill {

class MappedStream final : public ByteStream {
public:
    ~MappedStream() override;
    MappedStream(const MappedStream&) = delete;
    MappedStream& operator=(const MappedStream&) = delete;

    // `file` mapped up to the end of its data; `file` unchanged and none
    // returned when it is no file read stream, holds no data or the mapping
    // cannot be had (an address-space limit, for one).
    static StreamPtr map(StreamPtr& file);

    int64_t read(void* dst, uint64_t count) override;
    int64_t tell() override { return static_cast<int64_t>(position_); }
    // Any target from 0 on; reads beyond the end deliver nothing.
    int64_t seek(int64_t offset, int32_t whence) override;
    // Unmaps and closes the file, passing its result.
    int32_t close() override;
    const uint8_t* contents(uint64_t& size) override {
        size = size_;
        return bytes_;
    }

private:
    MappedStream(StreamPtr file, const uint8_t* bytes, uint64_t size)
        : file_(std::move(file)), bytes_(bytes), size_(size) {}
    void unmap();

    StreamPtr file_;
    const uint8_t* bytes_;
    uint64_t size_;
    uint64_t position_ = 0;
};

// The input as it is read when no window size is asked for: `file` mapped;
// else held whole in a window; else, when neither fits in the address space,
// through a moving window of kFallbackWindowBytes. None, and `file`
// unchanged, when not even that can be had.
// True, once and logged, when the mapped input of this thread could not be
// read since the last call.
bool take_mapped_input_failure();

inline constexpr uint64_t kFallbackWindowBytes = 4 << 20;
StreamPtr open_whole_input(StreamPtr& file);

}  // namespace tracemill
