// The CRC-32 variant, the checksum stream and the footer check with its messages.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/log.h"
#include "streams/crc32.h"
#include "streams/crc_stream.h"
#include "streams/memory_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::ScriptedStream;

uint32_t crc_of_text(const std::string& text) {
    uint32_t reg = kCrc32Initial;
    for (unsigned char c : text) reg = crc32_update(reg, c);
    return reg;
}

TEST(Crc32, KnownRegisters) {
    struct Case {
        std::string text;
        uint32_t expected;
    };
    // The complements of the common CRC-32 values of the same texts.
    const Case cases[] = {
        {"", 0xFFFFFFFFu},
        {"123456789", 0x340BC6D9u},
        {"a", 0x174841BCu},
        {"The quick brown fox jumps over the lazy dog", 0xBEB05CC6u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crc_of_text(c.text), c.expected) << c.text;
        EXPECT_EQ(crc32_update_block(kCrc32Initial, reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()),
                  c.expected)
            << c.text;
    }
}

TEST(Crc32, BlockUpdateMatchesByteUpdateAtEveryLengthAndAlignment) {
    std::mt19937 random(12345);
    std::vector<uint8_t> bytes(80);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    for (size_t start = 0; start < 8; ++start) {
        for (size_t n = 0; start + n <= bytes.size(); ++n) {
            uint32_t bytewise = 0x12345678u;  // any register, not only the initial one
            for (size_t i = 0; i < n; ++i) bytewise = crc32_update(bytewise, bytes[start + i]);
            EXPECT_EQ(crc32_update_block(0x12345678u, bytes.data() + start, n), bytewise)
                << "start " << start << " n " << n;
        }
    }
}

TEST(CrcStream, ReadingFoldsEveryDeliveredByteWhateverTheChunkSize) {
    for (uint64_t chunk : {1, 2, 4, 9, 100}) {
        auto inner = memory_stream_from("123456789", 9);
        auto crc = crc_stream_new(inner.get());
        ASSERT_NE(crc, nullptr);
        char buffer[100];
        int64_t total = 0, n;
        while ((n = stream_read(crc.get(), buffer, chunk)) > 0) total += n;
        EXPECT_EQ(total, 9);
        EXPECT_EQ(crc_stream_value(*crc), 0x340BC6D9u) << "chunk " << chunk;
    }
}

TEST(CrcStream, EndOfDataAndErrorsFoldNothing) {
    auto empty = memory_stream_new();
    auto crc = crc_stream_new(empty.get());
    char buffer[8];
    EXPECT_EQ(stream_read(crc.get(), buffer, sizeof buffer), 0);
    EXPECT_EQ(crc_stream_value(*crc), 0xFFFFFFFFu);

    ScriptedStream failing(std::vector<uint8_t>(8, 0x31));
    failing.fail_read_at_call = 1;
    auto crc_of_failing = crc_stream_new(&failing);
    EXPECT_EQ(stream_read(crc_of_failing.get(), buffer, sizeof buffer), -1);
    EXPECT_EQ(crc_stream_value(*crc_of_failing), 0xFFFFFFFFu);
}

TEST(CrcStream, WritingFoldsAcceptedBytesAndPassesThemOn) {
    auto sink = memory_stream_new();
    auto crc = crc_stream_new(sink.get());
    EXPECT_EQ(stream_write(crc.get(), "1234", 4), 4);
    EXPECT_EQ(stream_write(crc.get(), "56789", 5), 5);
    EXPECT_EQ(crc_stream_value(*crc), 0x340BC6D9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sink->data()), sink->size()), "123456789");
}

TEST(CrcStream, HasNoPositionsAndLeavesItsInnerStreamOpen) {
    auto inner = memory_stream_from("abc", 3);
    StreamPtr crc = crc_stream_new(inner.get());
    EXPECT_EQ(stream_tell(crc.get()), kStreamAbsent);
    EXPECT_EQ(stream_seek(crc.get(), 0, kSeekSet), kStreamAbsent);
    EXPECT_EQ(stream_close(std::move(crc)), 0);
    char c;
    EXPECT_EQ(stream_read(inner.get(), &c, 1), 1);
    EXPECT_EQ(crc_stream_new(nullptr), nullptr);
}

TEST(CrcFooter, ChecksTheBigEndianFooterAndExplainsFailures) {
    struct Case {
        const char* name;
        std::vector<uint8_t> container;
        bool ok;
        const char* message;  // nullptr: nothing is logged
    };
    const Case cases[] = {
        {"matching footer", {0x01, 0x02, 0x34, 0x0B, 0xC6, 0xD9}, true, nullptr},
        {"footer only", {0x34, 0x0B, 0xC6, 0xD9}, true, nullptr},
        {"byte-swapped footer", {0x01, 0xD9, 0xC6, 0x0B, 0x34},
         false, "Could not validate checksum, expected D9C60B34 but found 340BC6D9\n"},
        {"three bytes", {0x0B, 0xC6, 0xD9}, false, "Expected to read out CRC from footer, but found none\n"},
        {"empty", {}, false, "Expected to read out CRC from footer, but found none\n"},
    };
    const int32_t saved_threshold = log_threshold;
    set_log_threshold(kVerbose);
    for (const Case& c : cases) {
        auto container = memory_stream_from(c.container.data(), c.container.size());
        testing::internal::CaptureStderr();
        const bool ok = verify_crc_footer(container.get(), 0x340BC6D9u);
        const std::string logged = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, c.ok) << c.name;
        if (c.message) {
            ASSERT_GE(logged.size(), std::string(c.message).size()) << c.name;
            EXPECT_EQ(logged.substr(logged.size() - std::string(c.message).size()), c.message) << c.name;
            EXPECT_NE(logged.find(" E "), std::string::npos) << c.name << ": logged at level Error";
        } else {
            EXPECT_EQ(logged, "") << c.name;
        }
    }
    set_log_threshold(saved_threshold);
}

}  // namespace
}  // namespace tracemill
