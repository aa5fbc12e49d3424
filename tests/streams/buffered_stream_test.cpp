// The read window: capacity rounding, refills, and which seeks stay inside
// the window without touching the inner stream.
#include <gtest/gtest.h>

#include <vector>

#include "streams/buffered_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;
using testing_support::ScriptedStream;
using testing_support::TempFile;

// Records whether it was closed and answers close with a chosen result.
class CloseRecorder final : public ByteStream {
public:
    CloseRecorder(bool* closed, int32_t result) : closed_(closed), result_(result) {}
    int32_t close() override {
        *closed_ = true;
        return result_;
    }

private:
    bool* closed_;
    int32_t result_;
};

TEST(BufferedStream, CreationRoundsTheCapacityOrRefuses) {
    struct Case {
        uint64_t requested, expected;  // expected 0: refused
    };
    const Case cases[] = {
        {1, 8}, {4, 8}, {8, 8}, {13, 16}, {17, 24},
        {UINT64_MAX - 3, 0},  // rounding would wrap
#if !defined(__SANITIZE_ADDRESS__)
        {uint64_t{1} << 62, 0},  // the buffer cannot be allocated
#endif
    };
    ScriptedStream inner(pattern_bytes(4));
    for (const Case& c : cases) {
        auto stream = BufferedStream::borrowing(&inner, c.requested);
        EXPECT_EQ(stream ? stream->capacity() : 0, c.expected) << "requested " << c.requested;
    }
    EXPECT_EQ(open_buffered_stream_borrowed(nullptr, 16), nullptr);
    EXPECT_EQ(open_buffered_stream(nullptr, 16), nullptr);
}

TEST(BufferedStream, ReadLongerThanTheWindowRefillsUntilTheEnd) {
    const std::vector<uint8_t> bytes = pattern_bytes(10);
    TempFile file(bytes);
    StreamPtr stream = open_buffered_stream(open_file_stream(file.path(), kFileRead), 8);
    ASSERT_NE(stream, nullptr);

    std::vector<uint8_t> got(16, 0);
    EXPECT_EQ(stream_read(stream.get(), got.data(), 10), 10);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 10), bytes);
    EXPECT_EQ(stream_read(stream.get(), got.data(), 10), 0);
    EXPECT_EQ(stream_tell(stream.get()), 10);
    EXPECT_EQ(stream_close(std::move(stream)), 0);
}

TEST(BufferedStream, SmallReadsThroughASmallWindowReproduceTheFile) {
    const std::vector<uint8_t> bytes = pattern_bytes(1000);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 16);
    std::vector<uint8_t> got;
    uint8_t chunk[7];
    int64_t n;
    while ((n = stream->read(chunk, sizeof chunk)) > 0) got.insert(got.end(), chunk, chunk + n);
    EXPECT_EQ(got, bytes);
}

TEST(BufferedStream, SizeAndTrailerWorkThroughAWindowSmallerThanTheFile) {
    const std::vector<uint8_t> bytes = pattern_bytes(100);
    TempFile file(bytes);
    StreamPtr stream = open_buffered_stream(open_file_stream(file.path(), kFileRead), 16);
    ASSERT_NE(stream, nullptr);
    uint8_t first[3];
    ASSERT_EQ(stream_read(stream.get(), first, 3), 3);

    EXPECT_EQ(stream_size(stream.get()), 100);
    EXPECT_EQ(stream_tell(stream.get()), 3);
    EXPECT_EQ(stream_seek(stream.get(), 96, kSeekSet), 96);
    uint8_t last[4];
    ASSERT_EQ(stream_read(stream.get(), last, 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(last, last + 4), std::vector<uint8_t>(bytes.end() - 4, bytes.end()));
    EXPECT_EQ(stream_read(stream.get(), last, 4), 0);
    EXPECT_EQ(stream_seek(stream.get(), -4, kSeekEnd), 96);
    EXPECT_EQ(stream_seek(stream.get(), 0, kSeekEnd), 100);
}

TEST(BufferedStream, SeeksInsideTheWindowMakeNoInnerCall) {
    const std::vector<uint8_t> bytes = pattern_bytes(100);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 32);
    uint8_t byte;
    ASSERT_EQ(stream->read(&byte, 1), 1);  // loads [0, 32)
    const int reads = inner.reads, seeks = inner.seeks;

    for (int64_t target : {0, 10, 31, 32, 5}) {  // 32 is the end of the buffered data: still inside
        EXPECT_EQ(stream->seek(target, kSeekSet), target);
    }
    EXPECT_EQ(stream->seek(3, kSeekCur), 8);
    uint8_t four[4];
    ASSERT_EQ(stream->read(four, 4), 4);
    EXPECT_EQ(four[0], bytes[8]);
    EXPECT_EQ(four[3], bytes[11]);
    EXPECT_EQ(inner.reads, reads);
    EXPECT_EQ(inner.seeks, seeks);

    EXPECT_EQ(stream->seek(33, kSeekSet), 33);  // just outside: reloads there
    EXPECT_GT(inner.reads, reads);
    ASSERT_EQ(stream->read(&byte, 1), 1);
    EXPECT_EQ(byte, bytes[33]);
}

TEST(BufferedStream, SeekTargets) {
    struct Case {
        const char* name;
        int64_t from, offset;
        int32_t whence;
        int64_t expected;  // -1: refused, position stays at `from`
    };
    const Case cases[] = {
        {"start", 40, 7, kSeekSet, 7},
        {"forward from current", 40, 7, kSeekCur, 47},
        {"backward from current", 40, -30, kSeekCur, 10},
        {"from end", 40, -1, kSeekEnd, 99},
        {"end itself", 40, 0, kSeekEnd, 100},
        {"past the end", 40, 150, kSeekSet, 150},
        {"negative", 40, -1, kSeekSet, -1},
        {"before start from current", 40, -41, kSeekCur, -1},
        {"before start from end", 40, -101, kSeekEnd, -1},
        {"unknown whence", 40, 0, 3, -1},
    };
    const std::vector<uint8_t> bytes = pattern_bytes(100);
    for (const Case& c : cases) {
        ScriptedStream inner(bytes);
        auto stream = BufferedStream::borrowing(&inner, 16);
        ASSERT_EQ(stream->seek(c.from, kSeekSet), c.from);
        EXPECT_EQ(stream->seek(c.offset, c.whence), c.expected) << c.name;
        const int64_t position = c.expected < 0 ? c.from : c.expected;
        EXPECT_EQ(stream->tell(), position) << c.name;
        uint8_t byte = 0;
        const int64_t got = stream->read(&byte, 1);
        if (position < 100) {
            ASSERT_EQ(got, 1) << c.name;
            EXPECT_EQ(byte, bytes[position]) << c.name;
        } else {
            EXPECT_EQ(got, 0) << c.name;
        }
    }
}

TEST(BufferedStream, FailedInnerReadDuringSeekNeverServesStaleBytes) {
    const std::vector<uint8_t> bytes = pattern_bytes(100);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 16);
    uint8_t four[4];
    ASSERT_EQ(stream->read(four, 4), 4);
    inner.fail_read_at_call = inner.reads + 1;  // the device fails from now on

    EXPECT_EQ(stream->seek(50, kSeekSet), -1);
    EXPECT_EQ(stream->tell(), 4);
    // The failed read scribbled over the buffer: nothing may come from it.
    EXPECT_EQ(stream->read(four, 4), 0);
}

TEST(BufferedStream, FailedInnerSeekFailsTheSeek) {
    ScriptedStream inner(pattern_bytes(100));
    auto stream = BufferedStream::borrowing(&inner, 16);
    uint8_t byte;
    ASSERT_EQ(stream->read(&byte, 1), 1);
    inner.fail_seeks = true;
    EXPECT_EQ(stream->seek(0, kSeekEnd), -1);
    EXPECT_EQ(stream->seek(60, kSeekSet), -1);
    EXPECT_EQ(stream->tell(), 1);
    EXPECT_EQ(stream->seek(9, kSeekSet), 9);  // still inside the window
}

TEST(BufferedStream, OwningCloseClosesTheInnerStreamAndPassesItsResult) {
    struct Case {
        bool owning;
        int32_t inner_result, expected;
        bool inner_closed;
    };
    const Case cases[] = {{true, 0, 0, true}, {true, 5, 5, true}, {false, 5, 0, false}};
    for (const Case& c : cases) {
        bool closed = false;
        auto recorder = std::make_unique<CloseRecorder>(&closed, c.inner_result);
        CloseRecorder* raw = recorder.get();
        StreamPtr stream = c.owning ? open_buffered_stream(std::move(recorder), 8)
                                    : open_buffered_stream_borrowed(raw, 8);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream_close(std::move(stream)), c.expected);
        EXPECT_EQ(closed, c.inner_closed);
    }
}

}  // namespace
}  // namespace tracemill
