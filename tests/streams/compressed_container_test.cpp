// Compressed containers end to end below the driver: the heatshrink stream
// over a source, header and parameter checks, the CRC footer, and the
// failures that must end a file instead of yielding wrong data.
#include <gtest/gtest.h>

#include <optional>

#include "container_writer.h"
#include "heatshrink_encoder.h"
#include "streams/compressed_container.h"
#include "streams/container_test_support.h"
#include "streams/heatshrink_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::bytes_of;
using testing_support::ExhaustedDestination;
using testing_support::mixed_content;
using testing_support::read_all;
using testing_support::ScriptedStream;
using testing_support::stderr_of;
using testing_support::stream_over;

ContainerHeader header_of(const std::vector<uint8_t>& container) {
    ContainerHeader header;
    auto stream = stream_over(container);
    EXPECT_TRUE(read_container_header(stream.get(), header));
    return header;
}

// Opens `container` as a compressed container; the content, or nullopt.
std::optional<std::vector<uint8_t>> open_and_read(const std::vector<uint8_t>& container) {
    auto stream = stream_over(container);
    ContainerHeader header;
    if (!read_container_header(stream.get(), header)) return std::nullopt;
    StreamPtr opened = open_decompressed_stream(stream.get(), header);
    if (!opened) return std::nullopt;
    std::vector<uint8_t> content = read_all(opened.get());
    return content;
}

TEST(HeatshrinkStream, ReadsDecompressedBytesInAnyPieceSize) {
    const std::vector<uint8_t> content = mixed_content(10000, 5);
    const std::vector<uint8_t> payload = tools::heatshrink_encode(content.data(), content.size(), 11, 4);
    for (size_t piece : {size_t{1}, size_t{333}, size_t{4096}, size_t{100000}}) {
        SCOPED_TRACE(piece);
        auto source = stream_over(payload);
        auto stream = heatshrink_stream_new(source.get(), 11, 4);
        ASSERT_NE(stream, nullptr);
        std::vector<uint8_t> out;
        std::vector<uint8_t> buffer(piece);
        int64_t got;
        while ((got = stream_read(stream.get(), buffer.data(), piece)) > 0)
            out.insert(out.end(), buffer.data(), buffer.data() + got);
        EXPECT_EQ(got, 0);
        EXPECT_EQ(out, content);
        EXPECT_EQ(stream_read(stream.get(), buffer.data(), piece), 0);  // stays at the end
    }
}

TEST(HeatshrinkStream, RefusesMissingSourceAndBadParametersAndCannotWriteOrSeek) {
    auto source = stream_over(bytes_of({0xB0, 0x80, 0x08}));
    EXPECT_EQ(heatshrink_stream_new(nullptr, 8, 4), nullptr);
    EXPECT_EQ(heatshrink_stream_new(source.get(), 16, 4), nullptr);
    EXPECT_EQ(heatshrink_stream_new(source.get(), 8, 8), nullptr);
    auto stream = heatshrink_stream_new(source.get(), 8, 4);
    ASSERT_NE(stream, nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(stream_write(stream.get(), &byte, 1), -1);
    EXPECT_EQ(stream_tell(stream.get()), -1);
    EXPECT_EQ(stream_seek(stream.get(), 0, kSeekSet), -1);
}

TEST(HeatshrinkStream, SourceErrorIsAnErrorNotTheEnd) {
    const std::vector<uint8_t> content = mixed_content(50000, 9);
    ScriptedStream source(tools::heatshrink_encode(content.data(), content.size(), 11, 4));
    source.fail_read_at_call = 3;
    auto stream = heatshrink_stream_new(&source, 11, 4);
    ASSERT_NE(stream, nullptr);
    uint8_t buffer[4096];
    int64_t got;
    while ((got = stream_read(stream.get(), buffer, sizeof buffer)) > 0) {
    }
    EXPECT_EQ(got, -1);
}

TEST(CompressedContainer, RoundTripsWithAndWithoutFooter) {
    struct Case {
        unsigned w, l;
        bool footer;
        size_t size;
    };
    const Case cases[] = {{11, 4, true, 100000}, {11, 4, false, 100000}, {8, 4, true, 5000},
                          {15, 14, true, 70000}, {4, 3, false, 3000},    {12, 8, true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "W " << c.w << " L " << c.l << " footer " << c.footer);
        const std::vector<uint8_t> content = mixed_content(c.size, c.w * 100 + c.l);
        tools::CompressOptions options;
        options.window_bits = c.w;
        options.lookahead_bits = c.l;
        options.footer = c.footer;
        EXPECT_EQ(open_and_read(tools::write_compressed_container(content.data(), content.size(), options)), content);
    }
}

TEST(CompressedContainer, EndsPositionedAtTheEnd) {
    const std::vector<uint8_t> content = mixed_content(1234, 1);
    tools::CompressOptions options;
    options.lookahead_param = 0x00000104;  // only the low byte counts
    const std::vector<uint8_t> container = tools::write_compressed_container(content.data(), content.size(), options);
    auto source = stream_over(container);
    StreamPtr opened = open_decompressed_stream(source.get(), header_of(container));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(stream_tell(opened.get()), 1234);
    EXPECT_EQ(read_all(opened.get()), content);
}

TEST(CompressedContainer, RefusesHeadersAndParametersItCannotUse) {
    const std::vector<uint8_t> content = mixed_content(500, 2);
    struct Case {
        const char* name;
        tools::CompressOptions options;
    };
    auto with = [](auto change) {
        tools::CompressOptions options;
        change(options);
        return options;
    };
    const Case cases[] = {
        {"window 0", with([](auto& o) { o.window_param = 0; })},
        {"window 8 (W 3)", with([](auto& o) { o.window_param = 8; })},
        {"window 65536 (W 16)", with([](auto& o) { o.window_param = 65536; })},
        {"lookahead 2", with([](auto& o) { o.lookahead_param = 0x302; })},
        {"lookahead equal to W", with([](auto& o) { o.lookahead_param = 11; })},
        {"footer without check flag", with([](auto& o) { o.check_flag = 0; })},
        {"check flag without footer", with([](auto& o) { o.footer = false; o.check_flag = 1; })},
        {"flags of 2", with([](auto& o) { o.check_flag = 2; })},
        {"format version 2", with([](auto& o) { o.format_version = 2; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> container =
            tools::write_compressed_container(content.data(), content.size(), c.options);
        std::optional<std::vector<uint8_t>> result;
        EXPECT_EQ(stderr_of([&] { result = open_and_read(container); }), "");
        EXPECT_FALSE(result.has_value());
    }
}

TEST(CompressedContainer, RefusesOtherContainerTypesAndShortBodies) {
    const std::vector<uint8_t> encrypted_header = tools::container_header_bytes(kContainerEncrypted, 1, 0, 0);
    EXPECT_FALSE(open_and_read(encrypted_header).has_value());
    std::vector<uint8_t> missing_window = tools::container_header_bytes(kContainerCompressed, 1, 0, 0);
    missing_window.insert(missing_window.end(), {0, 0, 0, 4, 0, 0});
    EXPECT_FALSE(open_and_read(missing_window).has_value());
    EXPECT_EQ(open_decompressed_stream(nullptr, ContainerHeader{}), nullptr);
}

TEST(CompressedContainer, EmptyPayloadNeedsTheEmptyRegisterAsFooter) {
    std::vector<uint8_t> base = tools::container_header_bytes(kContainerCompressed, 1, 1, 1);
    base.insert(base.end(), {0, 0, 0, 4, 0, 0, 8, 0});
    std::vector<uint8_t> good = base;
    good.insert(good.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(open_and_read(good), std::vector<uint8_t>{});

    std::vector<uint8_t> bad = base;
    bad.insert(bad.end(), {0, 0, 0, 0});
    std::optional<std::vector<uint8_t>> result;
    const std::string log = stderr_of([&] { result = open_and_read(bad); });
    EXPECT_FALSE(result.has_value());
    EXPECT_NE(log.find("Could not validate checksum, expected 00000000 but found FFFFFFFF"), std::string::npos) << log;

    std::vector<uint8_t> no_footer = tools::container_header_bytes(kContainerCompressed, 1, 0, 0);
    no_footer.insert(no_footer.end(), {0, 0, 0, 4, 0, 0, 8, 0});
    EXPECT_EQ(open_and_read(no_footer), std::vector<uint8_t>{});
}

TEST(CompressedContainer, ContainerTooShortForItsFooterFails) {
    std::vector<uint8_t> container = tools::container_header_bytes(kContainerCompressed, 1, 1, 1);
    container.insert(container.end(), {0, 0, 0, 4, 0, 0, 8, 0, 0xFF});
    std::optional<std::vector<uint8_t>> result;
    const std::string log = stderr_of([&] { result = open_and_read(container); });
    EXPECT_FALSE(result.has_value());
    EXPECT_NE(log.find("too short"), std::string::npos) << log;
}

TEST(CompressedContainer, ChangedOrTruncatedPayloadFailsTheChecksum) {
    const std::vector<uint8_t> content = mixed_content(20000, 4);
    const std::vector<uint8_t> container = tools::write_compressed_container(content.data(), content.size(), {});
    std::vector<uint8_t> truncated(container.begin(), container.end() - 200);
    truncated.insert(truncated.end(), container.end() - 4, container.end());  // keep the footer
    std::vector<uint8_t> changed = container;
    changed[100] ^= 0x01;
    for (const auto& broken : {truncated, changed}) {
        std::optional<std::vector<uint8_t>> result;
        const std::string log = stderr_of([&] { result = open_and_read(broken); });
        EXPECT_FALSE(result.has_value());
        EXPECT_NE(log.find("Could not validate checksum"), std::string::npos) << log;
    }
}

TEST(CompressedContainer, RunningOutOfMemoryEndsTheFileWithAMessage) {
    const std::vector<uint8_t> content = mixed_content(100000, 6);
    for (bool footer : {true, false}) {
        tools::CompressOptions options;
        options.footer = footer;
        const std::vector<uint8_t> container =
            tools::write_compressed_container(content.data(), content.size(), options);
        auto source = stream_over(container);
        ExhaustedDestination destination(50000);
        bool ok = true;
        const std::string log = stderr_of(
            [&] { ok = decompress_container(source.get(), header_of(container), &destination); });
        EXPECT_FALSE(ok);
        EXPECT_NE(log.find("Out of memory while storing decompressed data"), std::string::npos) << log;
    }
}

TEST(CompressedContainer, ReadErrorInThePayloadFailsEvenWithoutFooter) {
    const std::vector<uint8_t> content = mixed_content(100000, 8);
    tools::CompressOptions options;
    options.footer = false;
    const std::vector<uint8_t> container = tools::write_compressed_container(content.data(), content.size(), options);
    ScriptedStream source(container);
    source.fail_read_at_call = 12;
    const ContainerHeader header = header_of(container);
    StreamPtr opened;
    const std::string log = stderr_of([&] { opened = open_decompressed_stream(&source, header); });
    EXPECT_EQ(opened, nullptr);
    EXPECT_NE(log.find("Could not read the compressed payload"), std::string::npos) << log;
}

}  // namespace
}  // namespace tracemill
