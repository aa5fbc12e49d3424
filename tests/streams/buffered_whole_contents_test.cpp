// A window that holds the whole inner stream lends its bytes out, so readers
// can take records by pointer; the lent bytes must stay those of the stream
// whatever the stream is asked afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "streams/buffered_stream.h"
#include "streams/file_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;
using testing_support::ScriptedStream;
using testing_support::TempFile;

TEST(BufferedWholeContents, LentOnlyWhenTheWindowHoldsTheWholeStream) {
    struct Case {
        const char* name;
        size_t stream_size;
        uint64_t capacity;
        bool read_first;  // whether a read has loaded the window before asking
        bool lent;
    };
    const std::vector<Case> cases = {
        {"window as large as the stream", 1000, 1000, true, true},
        {"window larger than the stream", 1000, 4096, true, true},
        {"window smaller than the stream", 1000, 512, true, false},
        {"nothing read yet", 1000, 1000, false, false},
        {"empty stream", 0, 64, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = pattern_bytes(c.stream_size);
        ScriptedStream inner(bytes);
        auto stream = BufferedStream::borrowing(&inner, c.capacity);
        ASSERT_NE(stream, nullptr);
        uint8_t first[4];
        if (c.read_first) stream_read(stream.get(), first, sizeof first);
        uint64_t size = 12345;
        const uint8_t* lent = stream->whole_contents(size);
        EXPECT_EQ(lent != nullptr, c.lent);
        if (!lent) continue;
        ASSERT_EQ(size, bytes.size());
        EXPECT_EQ(std::memcmp(lent, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(stream_tell(stream.get()), 4) << "asking leaves the read position alone";
    }
}

TEST(BufferedWholeContents, LentBytesSurviveSeeksBeyondTheEndAndBack) {
    const std::vector<uint8_t> bytes = pattern_bytes(300);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 304);
    uint8_t scratch[16];
    ASSERT_EQ(stream_read(stream.get(), scratch, 8), 8);
    uint64_t size = 0;
    const uint8_t* lent = stream->whole_contents(size);
    ASSERT_NE(lent, nullptr);
    const int reads_before = inner.reads;

    // Far beyond the end: nothing to read there.
    ASSERT_EQ(stream_seek(stream.get(), 5000, kSeekSet), 5000);
    EXPECT_EQ(stream_tell(stream.get()), 5000);
    EXPECT_EQ(stream_read(stream.get(), scratch, sizeof scratch), 0);
    // Back inside: served from the same bytes, which were not refilled.
    ASSERT_EQ(stream_seek(stream.get(), 100, kSeekSet), 100);
    ASSERT_EQ(stream_read(stream.get(), scratch, sizeof scratch), 16);
    EXPECT_EQ(std::memcmp(scratch, bytes.data() + 100, 16), 0);
    EXPECT_EQ(std::memcmp(lent, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(inner.reads, reads_before);
    // A read across the end delivers what is there.
    ASSERT_EQ(stream_seek(stream.get(), 290, kSeekSet), 290);
    EXPECT_EQ(stream_read(stream.get(), scratch, sizeof scratch), 10);
    EXPECT_EQ(std::memcmp(scratch, bytes.data() + 290, 10), 0);
}

TEST(BufferedWholeContents, WholeFileThroughAFileStream) {
    const std::vector<uint8_t> bytes = pattern_bytes(70000);
    TempFile file(bytes);
    auto stream = open_buffered_stream(open_file_stream(file.path(), kFileRead), bytes.size());
    ASSERT_NE(stream, nullptr);
    uint8_t header[20];
    ASSERT_EQ(stream_read(stream.get(), header, sizeof header), 20);
    uint64_t size = 0;
    const uint8_t* lent = static_cast<BufferedStream*>(stream.get())->whole_contents(size);
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(std::memcmp(lent, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(stream_size(stream.get()), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(stream_tell(stream.get()), 20);
}

}  // namespace
}  // namespace tracemill
