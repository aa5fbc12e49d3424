// Helpers shared by the stream tests: temporary files, recognisable byte
// patterns and a scripted stream that counts calls and fails on request.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "streams/byte_stream.h"

namespace tracemill::testing_support {

// Byte i of a pattern differs from its neighbours, so misplaced reads show.
inline std::vector<uint8_t> pattern_bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
}

// A file in the temporary folder, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& contents = {}) {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/tracemill_streams_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd >= 0) {
            path_ = name.data();
            size_t done = 0;
            while (done < contents.size()) {
                const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            ::close(fd);
        }
    }
    ~TempFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A seekable read-only stream over fixed bytes that records how it is used.
// `fail_read_at_call` makes that read call (1-based) and all later ones fail
// with -1; `fail_at_offset` makes every read that would reach that offset
// fail, as a device with a bad sector does; `end_reads_at` makes reads end
// there although the size still counts every byte; `fail_seeks` makes every
// seek fail.
class ScriptedStream final : public ByteStream {
public:
    explicit ScriptedStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t read(void* dst, uint64_t count) override {
        ++reads;
        if (fail_read_at_call != 0 && reads >= fail_read_at_call) {
            // Scribble over the destination, as a failing device might.
            std::memset(dst, 0xEE, static_cast<size_t>(count));
            return -1;
        }
        if (position_ >= bytes_.size()) return 0;
        const uint64_t n = std::min<uint64_t>(count, std::min<uint64_t>(end_reads_at, bytes_.size()) -
                                                         std::min<uint64_t>(position_, end_reads_at));
        if (n > 0 && position_ + n > fail_at_offset) {
            std::memset(dst, 0xEE, static_cast<size_t>(count));
            return -1;
        }
        std::memcpy(dst, bytes_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return static_cast<int64_t>(n);
    }
    int64_t tell() override { return static_cast<int64_t>(position_); }
    int64_t seek(int64_t offset, int32_t whence) override {
        ++seeks;
        if (fail_seeks) return -1;
        const int64_t base = whence == kSeekSet ? 0 : whence == kSeekCur ? static_cast<int64_t>(position_)
                                                                          : static_cast<int64_t>(bytes_.size());
        if (whence < kSeekSet || whence > kSeekEnd || base + offset < 0) return -1;
        position_ = static_cast<uint64_t>(base + offset);
        return base + offset;
    }

    int reads = 0;
    int seeks = 0;
    int fail_read_at_call = 0;
    uint64_t fail_at_offset = UINT64_MAX;
    uint64_t end_reads_at = UINT64_MAX;
    bool fail_seeks = false;

private:
    std::vector<uint8_t> bytes_;
    uint64_t position_ = 0;
};

}  // namespace tracemill::testing_support
