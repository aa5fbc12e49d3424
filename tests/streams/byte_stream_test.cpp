// Dispatch of absent operations, stream_close, stream_size, reading fully,
// and which streams lend their whole content as bytes in memory: memory
// streams, container layers (also nested), read windows that hold their
// whole file; and which do not. The lenders also hand their memory over.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "container_writer.h"
#include "streams/byte_stream.h"
#include "streams/container_header.h"
#include "streams/container_layer.h"
#include "streams/container_test_support.h"
#include "streams/file_stream.h"
#include "streams/memory_stream.h"
#include "streams/page_memory.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::mixed_content;
using testing_support::pattern_bytes;
using testing_support::ScriptedStream;
using testing_support::stream_over;

// Only tell, at a fixed place.
class TellOnly final : public ByteStream {
public:
    int64_t tell() override { return 42; }
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

TEST(ByteStream, ReadFullyTellsTheEndFromAFailure) {
    const std::vector<uint8_t> bytes = pattern_bytes(10000);
    struct Case {
        const char* name;
        uint64_t fail_at_offset;
        uint64_t wanted;
        int64_t expected;
    };
    const Case cases[] = {
        {"all there", UINT64_MAX, 6000, 6000},
        {"ends with the data", UINT64_MAX, 20000, 10000},
        {"fails at the start", 0, 100, -1},
        {"fails after some bytes arrived", 5000, 6000, -1},
        {"fails beyond what is wanted", 6000, 6000, 6000},
    };
    for (const Case& c : cases) {
        ScriptedStream stream(bytes);
        stream.fail_at_offset = c.fail_at_offset;
        std::vector<uint8_t> out(c.wanted);
        // Pieces of at most 1000 bytes, so that the loop has to go round.
        struct Pieces final : ByteStream {
            ByteStream* inner;
            int64_t read(void* dst, uint64_t n) override { return stream_read(inner, dst, std::min<uint64_t>(n, 1000)); }
        } pieces;
        pieces.inner = &stream;
        EXPECT_EQ(stream_read_fully(&pieces, out.data(), c.wanted), c.expected) << c.name;
        if (c.expected > 0) {
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.expected, bytes.begin())) << c.name;
        }
    }
    ByteStream bare;
    uint8_t byte;
    EXPECT_EQ(stream_read_fully(&bare, &byte, 1), -1);
    EXPECT_EQ(stream_read_fully(nullptr, &byte, 1), -1);
}

::testing::AssertionResult lends(ByteStream* stream, const std::vector<uint8_t>& expected) {
    uint64_t size = 0;
    const uint8_t* bytes = stream_contents(stream, size);
    if (!bytes) return ::testing::AssertionFailure() << "lends nothing";
    if (std::vector<uint8_t>(bytes, bytes + size) != expected) return ::testing::AssertionFailure() << "other bytes";
    return ::testing::AssertionSuccess();
}

bool lends_nothing(ByteStream* stream) {
    uint64_t size = 0;
    return stream_contents(stream, size) == nullptr;
}

// Opens the layer of the container header at the start of `container`.
StreamPtr open_layer(ByteStream* container) {
    ContainerHeader header;
    if (!read_container_header(container, header)) return nullptr;
    const ContainerLayer* layer = find_container_layer(header.container_type);
    if (!layer) return nullptr;
    LayerContext context;
    context.password_for = [](uint32_t) { return std::optional<std::string_view>("pw"); };
    return layer->open(container, header, context).content;
}

tools::EncryptOptions with_password() {
    tools::EncryptOptions options;
    options.password = "pw";
    options.iterations = 1;
    return options;
}

TEST(StreamContents, MemoryAndContainerLayersLendTheirContent) {
    const std::vector<uint8_t> content = mixed_content(30000, 3);
    auto memory = stream_over(content);
    EXPECT_TRUE(lends(memory.get(), content));

    const auto compressed = tools::write_compressed_container(content.data(), content.size(), {});
    auto compressed_source = stream_over(compressed);
    StreamPtr decompressed = open_layer(compressed_source.get());
    ASSERT_NE(decompressed, nullptr);
    EXPECT_TRUE(lends(decompressed.get(), content));

    const auto encrypted = tools::write_encrypted_container(compressed.data(), compressed.size(), with_password());
    auto encrypted_source = stream_over(encrypted);
    StreamPtr decrypted = open_layer(encrypted_source.get());
    ASSERT_NE(decrypted, nullptr);
    EXPECT_TRUE(lends(decrypted.get(), compressed));
    StreamPtr inner = open_layer(decrypted.get());
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(lends(inner.get(), content));

    // A closed layer holds nothing any more.
    inner->close();
    EXPECT_TRUE(lends_nothing(inner.get()));
}

TEST(StreamContents, ReadWindowsLendOnlyAWholeFile) {
    const std::vector<uint8_t> content = testing_support::pattern_bytes(5000);
    testing_support::TempFile file(content);

    StreamPtr plain = open_file_stream(file.path(), kFileRead);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(lends_nothing(plain.get()));

    StreamPtr whole = open_buffered_stream(open_file_stream(file.path(), kFileRead), content.size());
    ASSERT_NE(whole, nullptr);
    uint8_t first = 0;
    ASSERT_EQ(stream_read(whole.get(), &first, 1), 1);  // the window fills on the first read
    EXPECT_TRUE(lends(whole.get(), content));

    StreamPtr part = open_buffered_stream(open_file_stream(file.path(), kFileRead), 1000);
    ASSERT_NE(part, nullptr);
    ASSERT_EQ(stream_read(part.get(), &first, 1), 1);
    EXPECT_TRUE(lends_nothing(part.get()));
    EXPECT_TRUE(lends_nothing(nullptr));
}

TEST(StreamContents, LendersHandTheirMemoryOverAndKeepNothing) {
    const std::vector<uint8_t> content = testing_support::pattern_bytes(5000);
    testing_support::TempFile file(content);
    auto filled = [](StreamPtr stream) {
        uint8_t first = 0;
        return stream && stream_read(stream.get(), &first, 1) == 1 ? std::move(stream) : nullptr;
    };
    struct Case {
        const char* name;
        StreamPtr stream;
        bool releases;
    };
    Case cases[] = {
        {"memory stream", stream_over(content), true},
        {"whole-file window", filled(open_buffered_stream(open_file_stream(file.path(), kFileRead), 5000)), true},
        {"smaller window", filled(open_buffered_stream(open_file_stream(file.path(), kFileRead), 1000)), false},
        {"file", open_file_stream(file.path(), kFileRead), false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.stream, nullptr);
        PageMemory area;
        uint64_t size = 0;
        ASSERT_EQ(stream_release_contents(c.stream.get(), area, size), c.releases);
        if (!c.releases) {
            EXPECT_EQ(area.data(), nullptr);
            continue;
        }
        ASSERT_EQ(size, content.size());
        ASSERT_GE(area.size(), size);
        EXPECT_TRUE(std::equal(content.begin(), content.end(), area.data()));
        EXPECT_TRUE(std::all_of(area.data() + size, area.data() + area.size(), [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(lends_nothing(c.stream.get()));
        uint8_t byte = 0;
        EXPECT_LE(stream_read(c.stream.get(), &byte, 1), 0);
        EXPECT_EQ(stream_close(std::move(c.stream)), 0);

        // A memory stream takes the area over with the same content.
        const uint8_t* where = area.data();
        std::unique_ptr<MemoryStream> adopted = memory_stream_adopt(std::move(area), size);
        ASSERT_NE(adopted, nullptr);
        EXPECT_EQ(adopted->data(), where);
        EXPECT_TRUE(lends(adopted.get(), content));
    }
    PageMemory none;
    uint64_t size = 0;
    EXPECT_FALSE(stream_release_contents(nullptr, none, size));
}

}  // namespace
}  // namespace tracemill
