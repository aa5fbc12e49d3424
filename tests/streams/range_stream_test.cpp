// The range view: positions relative to the start, clamping into the range,
// an open end, and leaving the inner stream to its owner.
#include <gtest/gtest.h>

#include <vector>

#include "streams/memory_stream.h"
#include "streams/range_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;

class RangeStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = pattern_bytes(100);
        inner_ = memory_stream_from(bytes_.data(), bytes_.size());
        ASSERT_NE(inner_, nullptr);
    }

    // Reads in small chunks until the range reports its end.
    std::vector<uint8_t> read_all(ByteStream* range) {
        std::vector<uint8_t> got;
        uint8_t chunk[5];
        int64_t n;
        while ((n = stream_read(range, chunk, sizeof chunk)) > 0) got.insert(got.end(), chunk, chunk + n);
        return got;
    }

    std::vector<uint8_t> bytes_;
    std::unique_ptr<MemoryStream> inner_;
};

TEST_F(RangeStreamTest, CreationPositionsTheInnerStreamAtTheStart) {
    StreamPtr range = range_stream_new(inner_.get(), 28, 96);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(stream_tell(inner_.get()), 28);
    EXPECT_EQ(stream_tell(range.get()), 0);
    EXPECT_EQ(range_stream_new(nullptr, 0, 10), nullptr);
}

TEST_F(RangeStreamTest, SeeksAreClampedIntoTheRange) {
    struct Case {
        int64_t from, offset;
        int32_t whence;
        int64_t expected;
    };
    const Case cases[] = {
        {0, 0, kSeekEnd, 68},    {0, -8, kSeekEnd, 60},  {0, 10, kSeekEnd, 68},  {0, -10, kSeekSet, 0},
        {0, 500, kSeekSet, 68},  {0, 10, kSeekSet, 10},  {10, 5, kSeekCur, 15},  {10, -100, kSeekCur, 0},
        {10, 100, kSeekCur, 68}, {10, 0, 3, -1},         {10, INT64_MAX, kSeekSet, -1},
    };
    for (const Case& c : cases) {
        StreamPtr range = range_stream_new(inner_.get(), 28, 96);
        ASSERT_EQ(stream_seek(range.get(), c.from, kSeekSet), c.from);
        EXPECT_EQ(stream_seek(range.get(), c.offset, c.whence), c.expected)
            << "from " << c.from << " offset " << c.offset << " whence " << c.whence;
        if (c.expected >= 0) {
            EXPECT_EQ(stream_tell(inner_.get()), 28 + c.expected);
        }
    }
}

TEST_F(RangeStreamTest, ReadsStopAtTheEnd) {
    StreamPtr range = range_stream_new(inner_.get(), 28, 96);
    std::vector<uint8_t> got(100);
    EXPECT_EQ(stream_read(range.get(), got.data(), 100), 68);
    got.resize(68);
    EXPECT_EQ(got, std::vector<uint8_t>(bytes_.begin() + 28, bytes_.begin() + 96));
    EXPECT_EQ(stream_read(range.get(), got.data(), 1), 0);
}

TEST_F(RangeStreamTest, AnEndOfZeroOrLessRunsToTheEndOfTheInnerStream) {
    for (int64_t end : {int64_t{-1}, int64_t{0}}) {
        StreamPtr range = range_stream_new(inner_.get(), 28, end);
        EXPECT_EQ(read_all(range.get()), std::vector<uint8_t>(bytes_.begin() + 28, bytes_.end())) << end;
        EXPECT_EQ(stream_seek(range.get(), 0, kSeekEnd), 72) << end;
        EXPECT_EQ(stream_seek(range.get(), -2, kSeekEnd), 70) << end;
    }
}

TEST_F(RangeStreamTest, TellOutsideTheRangeIsAnError) {
    StreamPtr range = range_stream_new(inner_.get(), 28, 96);
    ASSERT_EQ(stream_seek(inner_.get(), 97, kSeekSet), 97);  // moved by someone else
    EXPECT_EQ(stream_tell(range.get()), -1);
    uint8_t byte;
    EXPECT_EQ(stream_read(range.get(), &byte, 1), 0);
}

TEST_F(RangeStreamTest, IsReadOnlyAndClosingLeavesTheInnerStreamOpen) {
    StreamPtr range = range_stream_new(inner_.get(), 28, 96);
    EXPECT_EQ(stream_write(range.get(), "x", 1), kStreamAbsent);
    EXPECT_EQ(inner_->size(), 100u);
    EXPECT_EQ(stream_close(std::move(range)), 0);
    uint8_t byte;
    ASSERT_EQ(stream_seek(inner_.get(), 3, kSeekSet), 3);
    ASSERT_EQ(stream_read(inner_.get(), &byte, 1), 1);
    EXPECT_EQ(byte, bytes_[3]);
}

// Seeks on a memory stream whose position cannot be told.
class PositionUnknown final : public ByteStream {
public:
    explicit PositionUnknown(ByteStream* inner) : inner_(inner) {}
    int64_t tell() override { return -1; }
    int64_t seek(int64_t offset, int32_t whence) override { return stream_seek(inner_, offset, whence); }

private:
    ByteStream* inner_;
};

TEST_F(RangeStreamTest, WithoutAnInnerPositionRelativeSeeksFail) {
    PositionUnknown inner(inner_.get());
    StreamPtr range = range_stream_new(&inner, 28, 0);
    ASSERT_EQ(stream_seek(range.get(), 10, kSeekSet), 10);
    EXPECT_EQ(stream_seek(range.get(), 5, kSeekCur), -1);  // not silently the start of the range
    EXPECT_EQ(stream_seek(range.get(), 0, kSeekEnd), -1);
    EXPECT_EQ(stream_tell(inner_.get()), 38);
    EXPECT_LT(stream_tell(range.get()), 0);
}

}  // namespace
}  // namespace tracemill
