// The read window: capacity rounding, refills, which seeks stay inside the
// window without touching the inner stream, failed reads, and the whole
// content lent out when the window holds the whole stream (the lent bytes
// must stay those of the stream whatever the stream is asked afterwards).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

    EXPECT_EQ(stream->seek(33, kSeekSet), 33);  // just outside: loads there only when read
    EXPECT_EQ(inner.reads, reads);
    ASSERT_EQ(stream->read(&byte, 1), 1);
    EXPECT_GT(inner.reads, reads);
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

TEST(BufferedStream, FailedInnerReadAfterASeekNeverServesStaleBytes) {
    const std::vector<uint8_t> bytes = pattern_bytes(100);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 16);
    uint8_t four[4];
    ASSERT_EQ(stream->read(four, 4), 4);
    inner.fail_read_at_call = inner.reads + 1;  // the device fails from now on

    ASSERT_EQ(stream->seek(50, kSeekSet), 50);
    EXPECT_EQ(stream->read(four, 4), -1);
    // The failed read scribbled over the buffer: nothing may come from it,
    // and the next read fails too instead of looking like the end of the data.
    EXPECT_EQ(stream->read(four, 4), -1);
    ASSERT_EQ(stream->seek(2, kSeekSet), 2);
    EXPECT_EQ(stream->read(four, 1), -1);
}

TEST(BufferedStream, ReadsTakenInTurnFromSeveralPlacesReadEachByteOnce) {
    // Four cursors walking four quarters of the stream in turn, as a reader
    // merging several record streams does, through a window of a quarter of
    // the stream: each cursor keeps a slot that moves forward with it.
    const uint64_t size = 1 << 20, quarter = size / 4;
    const std::vector<uint8_t> bytes = pattern_bytes(size);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, quarter);
    ASSERT_NE(stream, nullptr);
    uint8_t piece[16];
    for (uint64_t step = 0; step < quarter; step += sizeof piece) {
        for (uint64_t cursor = 0; cursor < 4; ++cursor) {
            const uint64_t at = cursor * quarter + step;
            ASSERT_EQ(stream_seek(stream.get(), static_cast<int64_t>(at), kSeekSet), static_cast<int64_t>(at));
            ASSERT_EQ(stream_read(stream.get(), piece, sizeof piece), static_cast<int64_t>(sizeof piece));
            ASSERT_EQ(std::memcmp(piece, bytes.data() + at, sizeof piece), 0) << "at " << at;
        }
    }
    // Every byte came in once, in slot-sized reads.
    EXPECT_LE(inner.reads, 1 + static_cast<int>(size / (quarter / 32)));
}

// read_at answers from the window when it holds the bytes and otherwise
// seeks and reads: either way the bytes, the count and the position after
// them are those of a seek and a full read, across slots and at the end.
TEST(BufferedStream, ReadAtGivesWhatASeekAndAReadGive) {
    const uint64_t size = 10000;
    const std::vector<uint8_t> bytes = pattern_bytes(size);
    for (uint64_t capacity : {16u, 4096u, 1u << 14}) {
        ScriptedStream inner(bytes);
        auto stream = BufferedStream::borrowing(&inner, capacity);
        ASSERT_NE(stream, nullptr);
        uint64_t at = 0;
        for (int i = 0; i < 3000; ++i) {
            at = (at * 7919 + 104729) % (size + 40);  // any order, some beyond the end
            const uint64_t count = 1 + (at % 97);
            std::vector<uint8_t> piece(count);
            const int64_t got = stream_read_at(stream.get(), at, piece.data(), count);
            const uint64_t expected = at >= size ? 0 : std::min(count, size - at);
            ASSERT_EQ(got, static_cast<int64_t>(expected)) << "capacity " << capacity << " at " << at;
            ASSERT_EQ(std::memcmp(piece.data(), bytes.data() + std::min(at, size), expected), 0) << at;
            ASSERT_EQ(stream->tell(), static_cast<int64_t>(std::min(at, size) + expected)) << at;
        }
    }
    // Two slots of 4096 bytes, filled at 0 and at 6000: reads from the slot
    // that is not the window, whole or cut by its end or the stream's.
    {
        ScriptedStream inner(bytes);
        auto stream = BufferedStream::borrowing(&inner, 8192);
        const struct { uint64_t at, count, expected; } reads[] = {
            {0, 16, 16}, {6000, 16, 16}, {100, 16, 16}, {4090, 16, 16}, {9990, 16, 10}, {6100, 16, 16}, {20, 8, 8},
        };
        for (const auto& r : reads) {
            std::vector<uint8_t> piece(r.count);
            const int64_t got = stream_read_at(stream.get(), r.at, piece.data(), r.count);
            ASSERT_EQ(got, static_cast<int64_t>(r.expected)) << r.at;
            EXPECT_EQ(std::memcmp(piece.data(), bytes.data() + r.at, r.expected), 0) << r.at;
            EXPECT_EQ(stream->tell(), static_cast<int64_t>(r.at + r.expected)) << r.at;
        }
    }
    // Outside the window a failed inner seek fails the read; inside, no seek is needed.
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 16);
    uint8_t piece[4];
    ASSERT_EQ(stream_read_at(stream.get(), 0, piece, 4), 4);
    inner.fail_seeks = true;
    EXPECT_EQ(stream_read_at(stream.get(), 5000, piece, 4), -1);
    EXPECT_EQ(stream_read_at(stream.get(), 8, piece, 4), 4);
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

TEST(BufferedStream, WholeContentsLentOnlyWhenTheWindowHoldsTheWholeStream) {
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
        const uint8_t* lent = stream->contents(size);
        EXPECT_EQ(lent != nullptr, c.lent);
        if (!lent) continue;
        ASSERT_EQ(size, bytes.size());
        EXPECT_EQ(std::memcmp(lent, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(stream_tell(stream.get()), 4) << "asking leaves the read position alone";
    }
}

TEST(BufferedStream, WholeContentsLentBytesSurviveSeeksBeyondTheEndAndBack) {
    const std::vector<uint8_t> bytes = pattern_bytes(300);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 304);
    uint8_t scratch[16];
    ASSERT_EQ(stream_read(stream.get(), scratch, 8), 8);
    uint64_t size = 0;
    const uint8_t* lent = stream->contents(size);
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

TEST(BufferedStream, WholeContentsWholeFileThroughAFileStream) {
    const std::vector<uint8_t> bytes = pattern_bytes(70000);
    TempFile file(bytes);
    auto stream = open_buffered_stream(open_file_stream(file.path(), kFileRead), bytes.size());
    ASSERT_NE(stream, nullptr);
    uint8_t header[20];
    ASSERT_EQ(stream_read(stream.get(), header, sizeof header), 20);
    uint64_t size = 0;
    const uint8_t* lent = stream_contents(stream.get(), size);
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(std::memcmp(lent, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(stream_size(stream.get()), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(stream_tell(stream.get()), 20);
}

TEST(BufferedStream, FailedReadsAreNeverTheEndOfTheData) {
    const std::vector<uint8_t> bytes = pattern_bytes(10000);
    // Windows as large as the stream, and smaller ones that refill.
    for (uint64_t capacity : {uint64_t{10000}, uint64_t{4096}, uint64_t{1000}}) {
        for (uint64_t fail_at : {uint64_t{0}, uint64_t{1}, uint64_t{20}, uint64_t{999}, uint64_t{1000},
                                 uint64_t{4096}, uint64_t{5000}, uint64_t{9999}}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", failing at " + std::to_string(fail_at));
            ScriptedStream inner(bytes);
            inner.fail_at_offset = fail_at;
            auto stream = BufferedStream::borrowing(&inner, capacity);
            ASSERT_NE(stream, nullptr);
            // Reads of record size walk the whole stream: each one either
            // delivers the right bytes or fails; none ends the data early.
            uint8_t piece[24];
            uint64_t at = 0;
            int64_t got = 0;
            while ((got = stream_read(stream.get(), piece, sizeof piece)) > 0) {
                ASSERT_EQ(std::memcmp(piece, bytes.data() + at, static_cast<size_t>(got)), 0) << "at " << at;
                at += static_cast<uint64_t>(got);
            }
            EXPECT_EQ(got, -1) << "ended at " << at;
            EXPECT_LE(at, fail_at);
            uint64_t size = 0;
            EXPECT_EQ(stream_contents(stream.get(), size), nullptr) << "a window with a hole is no whole file";
            // Seeking back before the failure and reading on fails again.
            if (stream_seek(stream.get(), 0, kSeekSet) == 0 && fail_at < 24) {
                EXPECT_EQ(stream_read(stream.get(), piece, sizeof piece), -1);
            }
        }
    }
}

TEST(BufferedStream, ReadEndingBeforeTheReportedSizeFails) {
    const std::vector<uint8_t> bytes = pattern_bytes(10000);
    for (uint64_t capacity : {uint64_t{10000}, uint64_t{1000}}) {
        for (uint64_t end : {uint64_t{0}, uint64_t{3000}, uint64_t{9999}}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", ending at " + std::to_string(end));
            ScriptedStream inner(bytes);
            inner.end_reads_at = end;
            auto stream = BufferedStream::borrowing(&inner, capacity);
            std::vector<uint8_t> out(bytes.size());
            EXPECT_EQ(stream_read_fully(stream.get(), out.data(), out.size()), -1);
        }
    }
}

TEST(BufferedStream, FailedFileReadFailsTheWindow) {
    // Reading a folder opened as a file fails in the system, as a failing device does.
    testing_support::TempFile file;
    const std::string folder = file.path() + "_folder";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    StreamPtr stream = open_buffered_stream(open_file_stream(folder, kFileRead), 4096);
    ::rmdir(folder.c_str());
    ASSERT_NE(stream, nullptr);
    uint8_t byte;
    EXPECT_EQ(stream_read(stream.get(), &byte, 1), -1);
    EXPECT_EQ(stream_read(stream.get(), &byte, 1), -1);
}

}  // namespace
}  // namespace tracemill
