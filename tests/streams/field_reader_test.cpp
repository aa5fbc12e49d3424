// Positioned field reads: byte order, failed fields that keep their offset,
// interleaved readers on one stream, text of any length.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "streams/buffered_stream.h"
#include "streams/field_reader.h"
#include "streams/memory_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::pattern_bytes;
using testing_support::ScriptedStream;

TEST(FieldReader, DecodesEachWidthAndByteOrder) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::function<bool(FieldReader&, uint64_t&)> read;
        uint64_t expected;
    };
    const auto u8 = [](FieldReader& r, uint64_t& v) { uint8_t x; bool ok = r.read_u8(x); v = x; return ok; };
    const auto u16 = [](FieldReader& r, uint64_t& v) { uint16_t x; bool ok = r.read_u16(x); v = x; return ok; };
    const auto u32 = [](FieldReader& r, uint64_t& v) { uint32_t x; bool ok = r.read_u32(x); v = x; return ok; };
    const auto u32be = [](FieldReader& r, uint64_t& v) { uint32_t x; bool ok = r.read_u32_be(x); v = x; return ok; };
    const auto u64 = [](FieldReader& r, uint64_t& v) { return r.read_u64(v); };
    const Case cases[] = {
        {"u8", {0xA5}, u8, 0xA5},
        {"u16", {0x34, 0x12}, u16, 0x1234},
        {"u32", {0x22, 0x00, 0x00, 0x00}, u32, 34},
        {"u32 high bytes", {0x78, 0x56, 0x34, 0xF2}, u32, 0xF2345678},
        {"u32 big-endian", {0x00, 0x00, 0x00, 0x22}, u32be, 34},
        {"u32 big-endian high bytes", {0xF2, 0x34, 0x56, 0x78}, u32be, 0xF2345678},
        {"u64", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8}, u64, 0xF807060504030201},
    };
    for (const Case& c : cases) {
        auto stream = memory_stream_from(c.bytes.data(), c.bytes.size());
        FieldReader reader = FieldReader::at(stream.get());
        uint64_t value = 0;
        ASSERT_TRUE(c.read(reader, value)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
        EXPECT_EQ(reader.offset(), static_cast<int64_t>(c.bytes.size())) << c.name;
        EXPECT_FALSE(c.read(reader, value)) << c.name << ": nothing left";
    }
}

TEST(FieldReader, ShortReadFailsTheFieldAndKeepsTheOffset) {
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    auto stream = memory_stream_from(bytes.data(), bytes.size());
    FieldReader reader = FieldReader::at(stream.get());
    ASSERT_TRUE(reader.skip(3));
    uint64_t wide = 0x1111;
    EXPECT_FALSE(reader.read_u64(wide));  // only 5 bytes left
    EXPECT_EQ(reader.offset(), 3);
    uint32_t narrow = 0;
    ASSERT_TRUE(reader.read_u32(narrow));  // the same bytes are still there
    EXPECT_EQ(narrow, 0x07060504u);
    EXPECT_EQ(reader.offset(), 7);
}

TEST(FieldReader, StartsAtTheStreamPositionAndSkipDoesNoIo) {
    const std::vector<uint8_t> bytes = pattern_bytes(64);
    ScriptedStream stream(bytes);
    ASSERT_EQ(stream.seek(10, kSeekSet), 10);
    FieldReader reader = FieldReader::at(&stream);
    EXPECT_EQ(reader.start(), 10);
    const int reads = stream.reads, seeks = stream.seeks;
    EXPECT_TRUE(reader.skip(20));
    EXPECT_TRUE(reader.skip(-5));
    EXPECT_EQ(stream.reads, reads);
    EXPECT_EQ(stream.seeks, seeks);
    uint8_t value;
    ASSERT_TRUE(reader.read_u8(value));
    EXPECT_EQ(value, bytes[25]);
}

TEST(FieldReader, InterleavedReadersEachReadTheirOwnFields) {
    const std::vector<uint8_t> bytes = pattern_bytes(256);
    ScriptedStream inner(bytes);
    auto stream = BufferedStream::borrowing(&inner, 64);  // both ranges do not fit one window
    ASSERT_EQ(stream_seek(stream.get(), 4, kSeekSet), 4);
    FieldReader low = FieldReader::at(stream.get());
    ASSERT_EQ(stream_seek(stream.get(), 200, kSeekSet), 200);
    FieldReader high = FieldReader::at(stream.get());
    for (int i = 0; i < 12; ++i) {
        uint16_t a = 0, b = 0;
        ASSERT_TRUE(low.read_u16(a));
        ASSERT_TRUE(high.read_u16(b));
        EXPECT_EQ(a, bytes[4 + 2 * i] | bytes[5 + 2 * i] << 8) << i;
        EXPECT_EQ(b, bytes[200 + 2 * i] | bytes[201 + 2 * i] << 8) << i;
    }
}

TEST(FieldReader, FailedSeekFailsTheFieldInsteadOfReadingElsewhere) {
    ScriptedStream stream(pattern_bytes(64));
    FieldReader reader = FieldReader::at(&stream);
    ASSERT_TRUE(reader.skip(8));
    stream.fail_seeks = true;
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(reader.read_u32(value));
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(reader.offset(), 8);

    ByteStream bare;  // neither tell nor seek: no place to read from
    uint8_t byte;
    EXPECT_FALSE(FieldReader::at(&bare).read_u8(byte));
    EXPECT_FALSE(FieldReader::at(nullptr).read_u8(byte));
}

TEST(FieldReader, ReadTextAppendsExactlyTheRequestedBytes) {
    struct Case {
        size_t skip, n;
        bool ok;
    };
    const std::vector<uint8_t> bytes = pattern_bytes(200000);
    const Case cases[] = {{0, 0, true},          {5, 10, true},       {0, 200000, true},  // several growth steps
                          {199990, 10, true},    {199990, 11, false}, {0, 200001, false},
                          {0, size_t{1} << 40, false}};  // a corrupt length costs no huge allocation
    auto stream = memory_stream_from(bytes.data(), bytes.size());
    for (const Case& c : cases) {
        ASSERT_EQ(stream_seek(stream.get(), 0, kSeekSet), 0);
        FieldReader reader = FieldReader::at(stream.get());
        reader.skip(static_cast<int64_t>(c.skip));
        std::string text = "kept";
        EXPECT_EQ(reader.read_text(text, c.n), c.ok) << c.skip << "+" << c.n;
        if (c.ok) {
            ASSERT_EQ(text.size(), 4 + c.n);
            EXPECT_EQ(text.substr(0, 4), "kept");
            EXPECT_EQ(std::memcmp(text.data() + 4, bytes.data() + c.skip, c.n), 0);
            EXPECT_EQ(reader.offset(), static_cast<int64_t>(c.skip + c.n));
        } else {
            EXPECT_EQ(text, "kept");
            EXPECT_EQ(reader.offset(), static_cast<int64_t>(c.skip));
        }
    }
}

}  // namespace
}  // namespace tracemill
