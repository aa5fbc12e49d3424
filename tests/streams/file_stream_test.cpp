// File streams: open modes, absent operations per mode, the cached position,
// positions beyond 2 GiB, the write buffer: what reaches the file, and when a
// full device is reported; and streams given up without close.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "streams/file_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;
using testing_support::TempFile;

TEST(FileStream, OpenModes) {
    TempFile file(pattern_bytes(10));
    struct Case {
        const char* name;
        std::string path;
        int32_t mode;
        bool opens, reads, writes;
    };
    const Case cases[] = {
        {"read", file.path(), kFileRead, true, true, false},
        {"write", file.path(), kFileWrite, true, false, true},
        {"read-write refused", file.path(), 2, false, false, false},
        {"negative mode", file.path(), -1, false, false, false},
        {"missing file", file.path() + ".missing", kFileRead, false, false, false},
        {"empty path", "", kFileRead, false, false, false},
    };
    for (const Case& c : cases) {
        StreamPtr stream = open_file_stream(c.path, c.mode);
        ASSERT_EQ(stream != nullptr, c.opens) << c.name;
        if (!stream) continue;
        char buffer[4] = {'a', 'b', 'c', 'd'};
        EXPECT_EQ(stream_read(stream.get(), buffer, 4) == kStreamAbsent, !c.reads) << c.name;
        EXPECT_EQ(stream_write(stream.get(), buffer, 4) == kStreamAbsent, !c.writes) << c.name;
        EXPECT_EQ(stream_close(std::move(stream)), 0) << c.name;
    }
    EXPECT_EQ(open_file_stream(std::string_view(), kFileRead), nullptr);
}

TEST(FileStream, WrittenBytesReadBack) {
    TempFile file;
    const std::vector<uint8_t> bytes = pattern_bytes(5000);
    StreamPtr out = open_file_stream(file.path(), kFileWrite);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(stream_write(out.get(), bytes.data(), 3000), 3000);
    EXPECT_EQ(stream_write(out.get(), bytes.data() + 3000, 2000), 2000);
    EXPECT_EQ(stream_tell(out.get()), 5000);
    EXPECT_EQ(stream_close(std::move(out)), 0);

    StreamPtr in = open_file_stream(file.path(), kFileRead);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(stream_size(in.get()), 5000);
    std::vector<uint8_t> got(6000);
    EXPECT_EQ(stream_read(in.get(), got.data(), got.size()), 5000);
    got.resize(5000);
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(stream_read(in.get(), got.data(), 1), 0);
}

TEST(FileStream, SeeksAndTheCachedPosition) {
    const std::vector<uint8_t> bytes = pattern_bytes(1000);
    TempFile file(bytes);
    StreamPtr stream = open_file_stream(file.path(), kFileRead);
    ASSERT_NE(stream, nullptr);
    uint8_t got[8];
    ASSERT_EQ(stream_read(stream.get(), got, 8), 8);
    EXPECT_EQ(stream_seek(stream.get(), 0, kSeekSet), 0);  // where it was before the read
    ASSERT_EQ(stream_read(stream.get(), got, 8), 8);
    EXPECT_EQ(got[0], bytes[0]);
    EXPECT_EQ(stream_seek(stream.get(), 8, kSeekSet), 8);  // where it already is
    EXPECT_EQ(stream_tell(stream.get()), 8);

    struct Case {
        int64_t offset;
        int32_t whence;
        int64_t expected;  // negative: refused, position unchanged
        int64_t position;
    };
    const Case cases[] = {
        {100, kSeekSet, 100, 100}, {-10, kSeekCur, 90, 90},   {-1, kSeekEnd, 999, 999},
        {-2000, kSeekEnd, -1, 999}, {0, 7, -1, 999},          {20, kSeekSet, 20, 20},
    };
    for (const Case& c : cases) {
        const int64_t result = stream_seek(stream.get(), c.offset, c.whence);
        if (c.expected < 0) {
            EXPECT_LT(result, 0) << c.offset << "/" << c.whence;
        } else {
            EXPECT_EQ(result, c.expected) << c.offset << "/" << c.whence;
        }
        EXPECT_EQ(stream_tell(stream.get()), c.position);
        ASSERT_EQ(stream_read(stream.get(), got, 1), 1);
        EXPECT_EQ(got[0], bytes[c.position]);
        ASSERT_EQ(stream_seek(stream.get(), -1, kSeekCur), c.position);
    }
    EXPECT_EQ(stream_size(stream.get()), 1000);
    EXPECT_EQ(stream_tell(stream.get()), 20);
}

TEST(FileStream, PositionsBeyondTwoGibibytes) {
    constexpr int64_t kSize = int64_t{3} << 30;  // sparse: costs no disk space
    TempFile file;
    {
        const int fd = ::open(file.path().c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        ASSERT_EQ(::pwrite(fd, "TAIL", 4, kSize - 4), 4);
        ::close(fd);
    }
    StreamPtr in = open_file_stream(file.path(), kFileRead);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(stream_size(in.get()), kSize);
    EXPECT_EQ(stream_seek(in.get(), kSize - 4, kSeekSet), kSize - 4);
    char tail[5] = {};
    ASSERT_EQ(stream_read(in.get(), tail, 4), 4);
    EXPECT_STREQ(tail, "TAIL");
    EXPECT_EQ(stream_tell(in.get()), kSize);
    EXPECT_EQ(stream_seek(in.get(), -(int64_t{1} << 31) - 8, kSeekCur), kSize - (int64_t{1} << 31) - 8);
    EXPECT_EQ(stream_close(std::move(in)), 0);

    StreamPtr out = open_file_stream(file.path(), kFileWrite);  // truncates
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(stream_seek(out.get(), kSize, kSeekSet), kSize);
    EXPECT_EQ(stream_write(out.get(), "END", 3), 3);
    EXPECT_EQ(stream_tell(out.get()), kSize + 3);
    EXPECT_EQ(stream_close(std::move(out)), 0);
    struct stat info;
    ASSERT_EQ(::stat(file.path().c_str(), &info), 0);
    EXPECT_EQ(static_cast<int64_t>(info.st_size), kSize + 3);
}

// A hole at the end holds no data: the file ends, for its readers, where its
// last extent of data ends (a block boundary at most), not at its size.
TEST(FileStream, SparseFileEndsWithItsLastData) {
    constexpr int64_t kSize = int64_t{1} << 30;
    TempFile file(pattern_bytes(100));
    ASSERT_EQ(::truncate(file.path().c_str(), kSize), 0);
    StreamPtr in = open_file_stream(file.path(), kFileRead);
    ASSERT_NE(in, nullptr);
    const int64_t end = stream_size(in.get());
    EXPECT_GE(end, 100);
    EXPECT_LE(end, 1 << 16);
    EXPECT_EQ(stream_seek(in.get(), -100, kSeekEnd), end - 100);
    EXPECT_EQ(stream_seek(in.get(), end - 10, kSeekSet), end - 10);
    std::vector<uint8_t> rest(100);
    EXPECT_EQ(stream_read(in.get(), rest.data(), rest.size()), 10);
    EXPECT_EQ(stream_read(in.get(), rest.data(), rest.size()), 0);
    EXPECT_EQ(stream_seek(in.get(), 0, kSeekSet), 0);
    ASSERT_EQ(stream_read(in.get(), rest.data(), rest.size()), 100);
    EXPECT_EQ(rest, pattern_bytes(100));
}

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes of every size relative to the buffer, in one file: small ones that
// collect, ones that fill the buffer exactly, ones larger than it that go
// straight through, and seeks that must first hand over what is collected.
TEST(FileWriteStream, EverythingWrittenReachesTheFileInOrder) {
    constexpr size_t kBuffer = FileWriteStream::kBufferSize;
    const std::vector<std::vector<size_t>> cases = {
        {},
        {1},
        {37, 1, 200, 4096},
        {kBuffer},
        {kBuffer - 1, 1, 1},
        {kBuffer + 1},
        {100, 3 * kBuffer, 100},
        {60000, 60000, 60000, 60000, 7},
    };
    for (const auto& sizes : cases) {
        TempFile file;
        StreamPtr out = open_file_stream(file.path(), kFileWrite);
        ASSERT_NE(out, nullptr);
        std::vector<uint8_t> expected;
        for (size_t n : sizes) {
            const std::vector<uint8_t> chunk = pattern_bytes(n + expected.size() % 13);
            ASSERT_EQ(stream_write(out.get(), chunk.data(), chunk.size()), static_cast<int64_t>(chunk.size()));
            expected.insert(expected.end(), chunk.begin(), chunk.end());
            EXPECT_EQ(stream_tell(out.get()), static_cast<int64_t>(expected.size()));
        }
        ASSERT_EQ(stream_close(std::move(out)), 0);
        EXPECT_EQ(file_bytes(file.path()), expected) << sizes.size() << " writes";
    }
}

TEST(FileWriteStream, SeeksHandOverCollectedBytesFirst) {
    TempFile file;
    StreamPtr out = open_file_stream(file.path(), kFileWrite);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(stream_write(out.get(), "abcdef", 6), 6);
    ASSERT_EQ(stream_seek(out.get(), 2, kSeekSet), 2);
    ASSERT_EQ(stream_write(out.get(), "XY", 2), 2);
    EXPECT_EQ(stream_tell(out.get()), 4);
    ASSERT_EQ(stream_seek(out.get(), 0, kSeekEnd), 6);
    ASSERT_EQ(stream_write(out.get(), "g", 1), 1);
    ASSERT_EQ(stream_close(std::move(out)), 0);
    const std::string expected = "abXYefg";
    EXPECT_EQ(file_bytes(file.path()), std::vector<uint8_t>(expected.begin(), expected.end()));
}

// On a full device the bytes collected so far fail when they are handed over:
// at the write that needs their room, or at the close; later writes fail too.
TEST(FileWriteStream, FullDeviceFailsTheWriteThatFlushesOrTheClose) {
    constexpr size_t kBuffer = FileWriteStream::kBufferSize;
    const std::vector<uint8_t> line = pattern_bytes(70);
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";

    StreamPtr at_close = open_file_stream("/dev/full", kFileWrite);
    ASSERT_NE(at_close, nullptr);
    EXPECT_EQ(stream_write(at_close.get(), line.data(), line.size()), 70);
    EXPECT_NE(stream_close(std::move(at_close)), 0);

    StreamPtr at_write = open_file_stream("/dev/full", kFileWrite);
    ASSERT_NE(at_write, nullptr);
    size_t taken = 0;
    while (taken + line.size() <= kBuffer) {
        ASSERT_EQ(stream_write(at_write.get(), line.data(), line.size()), 70);
        taken += line.size();
    }
    EXPECT_LT(stream_write(at_write.get(), line.data(), line.size()), 70);
    EXPECT_LT(stream_write(at_write.get(), line.data(), 1), 1);
    EXPECT_EQ(stream_close(std::move(at_write)), 0);  // nothing was left to hand over

    StreamPtr large = open_file_stream("/dev/full", kFileWrite);
    ASSERT_NE(large, nullptr);
    const std::vector<uint8_t> big = pattern_bytes(2 * kBuffer);
    EXPECT_LT(stream_write(large.get(), big.data(), big.size()), static_cast<int64_t>(big.size()));
    stream_close(std::move(large));
}

size_t open_descriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

TEST(FileStream, DestroyingWithoutCloseReleasesAndKeepsWhatWasWritten) {
    TempFile file;
    const size_t before = open_descriptors();
    {
        StreamPtr out = open_file_stream(file.path(), kFileWrite);
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(stream_write(out.get(), "kept", 4), 4);
        StreamPtr in = open_buffered_stream(open_file_stream(file.path(), kFileRead), 64);
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(open_descriptors(), before + 2);
    }
    EXPECT_EQ(open_descriptors(), before) << "both files are closed";
    std::ifstream written(file.path(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "kept");
}

}  // namespace
}  // namespace tracemill
