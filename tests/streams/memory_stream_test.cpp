// The in-memory stream: growth by doubling, seek bounds, reads beyond the
// size, and out-of-memory reported as a failed write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streams/memory_stream.h"

namespace tracemill {
namespace {

TEST(MemoryStream, GrowsByDoublingFromTwo) {
    struct Case {
        std::vector<uint64_t> writes;
        uint64_t capacity, size;
    };
    const Case cases[] = {
        {{}, 0, 0},      {{0}, 0, 0},    {{1}, 2, 1},       {{2}, 2, 2},        {{3}, 4, 3},
        {{5}, 8, 5},     {{2, 1}, 4, 3}, {{8, 1}, 16, 9},   {{4, 4, 4}, 16, 12}, {{1000}, 1024, 1000},
    };
    const std::vector<uint8_t> source(1024, 0x5A);
    for (const Case& c : cases) {
        auto stream = memory_stream_new();
        ASSERT_NE(stream, nullptr);
        uint64_t total = 0;
        for (uint64_t n : c.writes) {
            EXPECT_EQ(stream_write(stream.get(), source.data(), n), static_cast<int64_t>(n));
            total += n;
        }
        EXPECT_EQ(stream->capacity(), c.capacity) << "after writing " << total;
        EXPECT_EQ(stream->size(), c.size);
        EXPECT_EQ(stream_tell(stream.get()), static_cast<int64_t>(total));
    }
}

TEST(MemoryStream, SeekBoundsAfterAFiveByteWrite) {
    struct Case {
        int64_t offset;
        int32_t whence;
        int64_t expected;  // -1: refused, position stays at 5
    };
    const Case cases[] = {
        {8, kSeekSet, 8},   {9, kSeekSet, -1},  {0, kSeekSet, 0},   {-1, kSeekSet, -1},
        {3, kSeekCur, 8},   {4, kSeekCur, -1},  {-5, kSeekCur, 0},  {-6, kSeekCur, -1},
        {0, kSeekEnd, 5},   {3, kSeekEnd, 8},   {4, kSeekEnd, -1},  {-5, kSeekEnd, 0},
        {-6, kSeekEnd, -1}, {0, 3, -1},         {INT64_MAX, kSeekCur, -1},
    };
    for (const Case& c : cases) {
        auto stream = memory_stream_new();
        ASSERT_EQ(stream_write(stream.get(), "abcde", 5), 5);
        ASSERT_EQ(stream->capacity(), 8u);
        EXPECT_EQ(stream_seek(stream.get(), c.offset, c.whence), c.expected)
            << "offset " << c.offset << " whence " << c.whence;
        EXPECT_EQ(stream_tell(stream.get()), c.expected < 0 ? 5 : c.expected);
    }
}

TEST(MemoryStream, ReadsDeliverWhatIsLeftOfTheSize) {
    auto stream = memory_stream_from("abcde", 5);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream_tell(stream.get()), 0);
    char got[16] = {};
    ASSERT_EQ(stream_seek(stream.get(), 2, kSeekSet), 2);
    EXPECT_EQ(stream_read(stream.get(), got, 10), 3);
    EXPECT_EQ(std::string(got, 3), "cde");
    EXPECT_EQ(stream_read(stream.get(), got, 10), 0);
    ASSERT_EQ(stream_seek(stream.get(), 6, kSeekSet), 6);  // between size and capacity
    EXPECT_EQ(stream_read(stream.get(), got, 1), 0);
}

TEST(MemoryStream, WriteBeyondTheSizeFillsTheGapWithZeros) {
    auto stream = memory_stream_new();
    ASSERT_EQ(stream_write(stream.get(), "abcde", 5), 5);
    ASSERT_EQ(stream_seek(stream.get(), 8, kSeekSet), 8);
    ASSERT_EQ(stream_write(stream.get(), "x", 1), 1);
    ASSERT_EQ(stream->size(), 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream->data()), 9), std::string("abcde\0\0\0x", 9));
}

TEST(MemoryStream, WriteThatCannotBeStoredFailsAndChangesNothing) {
    auto stream = memory_stream_from("abc", 3);
    const uint8_t byte = 0;
    // The counts are checked before the source is touched, so one byte suffices.
    EXPECT_EQ(stream_write(stream.get(), &byte, uint64_t{1} << 63), -1);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(stream_write(stream.get(), &byte, uint64_t{1} << 62), -1);  // no such memory
#endif
    EXPECT_EQ(stream->size(), 3u);
    EXPECT_EQ(stream->capacity(), 4u);
    EXPECT_EQ(stream_tell(stream.get()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream->data()), 3), "abc");
}

}  // namespace
}  // namespace tracemill
