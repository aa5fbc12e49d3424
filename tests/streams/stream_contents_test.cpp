// Which streams lend their whole content as bytes in memory: memory streams,
// decompressed and decrypted containers (also nested), read windows that
// hold their whole file; and which do not.
#include "streams/stream_contents.h"

#include <gtest/gtest.h>

#include <vector>

#include "container_writer.h"
#include "streams/buffered_stream.h"
#include "streams/container_header.h"
#include "streams/container_test_support.h"
#include "streams/decompressed_stream.h"
#include "streams/decrypted_stream.h"
#include "streams/file_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::mixed_content;
using testing_support::stream_over;

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

StreamPtr open_layer(ByteStream* container) {
    ContainerHeader header;
    if (!read_container_header(container, header)) return nullptr;
    if (header.container_type == kContainerCompressed) return open_decompressed_stream(container, header);
    return open_decrypted_stream(container, header, "pw");
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
    DecompressedStream* layer = static_cast<DecompressedStream*>(inner.get());
    layer->close();
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

}  // namespace
}  // namespace tracemill
