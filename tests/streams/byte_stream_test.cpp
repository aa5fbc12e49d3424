// Dispatch of absent operations, stream_close, stream_size and stream_copy.
#include <gtest/gtest.h>

#include <vector>

#include "streams/byte_stream.h"
#include "streams/memory_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;
using testing_support::ScriptedStream;

// Only tell, at a fixed place.
class TellOnly final : public ByteStream {
public:
    int64_t tell() override { return 42; }
};

// Accepts writes with a chosen answer and counts the bytes offered.
class WriteAnswer final : public ByteStream {
public:
    explicit WriteAnswer(int64_t answer, int64_t short_by = 0) : answer_(answer), short_by_(short_by) {}
    int64_t write(const void*, uint64_t count) override {
        offered += count;
        ++calls;
        return answer_ != 0 ? answer_ : static_cast<int64_t>(count) - short_by_;
    }
    uint64_t offered = 0;
    int calls = 0;

private:
    int64_t answer_, short_by_;
};

TEST(ByteStream, AbsentOperationsAnswerMinusTwo) {
    ByteStream bare;
    char buffer[4] = {};
    EXPECT_EQ(stream_read(&bare, buffer, 4), kStreamAbsent);
    EXPECT_EQ(stream_write(&bare, buffer, 4), kStreamAbsent);
    EXPECT_EQ(stream_tell(&bare), kStreamAbsent);
    EXPECT_EQ(stream_seek(&bare, 0, kSeekSet), kStreamAbsent);
    EXPECT_EQ(stream_read(nullptr, buffer, 4), kStreamAbsent);
    EXPECT_EQ(stream_seek(nullptr, 0, kSeekSet), kStreamAbsent);
}

TEST(ByteStream, ClosingNothingOrAStreamWithoutCloseSucceeds) {
    EXPECT_EQ(stream_close(nullptr), 0);
    EXPECT_EQ(stream_close(std::make_unique<ByteStream>()), 0);
}

TEST(ByteStream, SizeLeavesThePositionWhereItWas) {
    const std::vector<uint8_t> bytes = pattern_bytes(1000);
    auto stream = memory_stream_from(bytes.data(), bytes.size());
    ASSERT_EQ(stream_seek(stream.get(), 20, kSeekSet), 20);
    EXPECT_EQ(stream_size(stream.get()), 1000);
    EXPECT_EQ(stream_tell(stream.get()), 20);
}

TEST(ByteStream, SizeOfStreamsLackingOperations) {
    ByteStream bare;
    TellOnly tell_only;
    ScriptedStream failing_seeks(pattern_bytes(10));
    failing_seeks.fail_seeks = true;
    EXPECT_EQ(stream_size(nullptr), -1);
    EXPECT_EQ(stream_size(&bare), kStreamAbsent);
    EXPECT_EQ(stream_size(&tell_only), 42);  // no seek: the current position
    EXPECT_EQ(stream_size(&failing_seeks), -1);
}

TEST(ByteStream, CopyMovesEveryChunk) {
    const std::vector<uint8_t> bytes = pattern_bytes(3 * 4096 + 17);
    auto source = memory_stream_from(bytes.data(), bytes.size());
    auto destination = memory_stream_new();
    EXPECT_EQ(stream_copy(source.get(), destination.get()), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(destination->size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), destination->data()));
}

TEST(ByteStream, CopyEdgeCases) {
    const std::vector<uint8_t> bytes = pattern_bytes(10000);
    ByteStream bare;

    // No source, no destination, or a source without read: nothing happens.
    auto destination = memory_stream_new();
    EXPECT_EQ(stream_copy(nullptr, destination.get()), 0);
    EXPECT_EQ(stream_copy(&bare, destination.get()), 0);
    EXPECT_EQ(destination->size(), 0u);
    auto untouched = memory_stream_from(bytes.data(), bytes.size());
    EXPECT_EQ(stream_copy(untouched.get(), nullptr), 0);
    EXPECT_EQ(stream_tell(untouched.get()), 0);

    // A destination without write still drains the source.
    auto drained = memory_stream_from(bytes.data(), bytes.size());
    EXPECT_EQ(stream_copy(drained.get(), &bare), 10000);
    EXPECT_EQ(stream_tell(drained.get()), 10000);

    // A failing source read is not a complete copy.
    ScriptedStream failing(bytes);
    failing.fail_read_at_call = 2;
    auto partial = memory_stream_new();
    EXPECT_EQ(stream_copy(&failing, partial.get()), -1);
    EXPECT_EQ(partial->size(), 4096u);
}

TEST(ByteStream, CopyStopsWhenTheDestinationFails) {
    struct Case {
        const char* name;
        int64_t answer, short_by;
    };
    const Case cases[] = {{"write error", -1, 0}, {"short write", 0, 1}};
    const std::vector<uint8_t> bytes = pattern_bytes(10000);
    for (const Case& c : cases) {
        auto source = memory_stream_from(bytes.data(), bytes.size());
        WriteAnswer destination(c.answer, c.short_by);
        EXPECT_EQ(stream_copy(source.get(), &destination), -1) << c.name;
        EXPECT_EQ(destination.calls, 1) << c.name;
    }
}

}  // namespace
}  // namespace tracemill
