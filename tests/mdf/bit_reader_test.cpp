// Bit fields in both byte orders, checked against worked examples and a
// bit-by-bit reading of the definition.
#include "mdf/bit_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tracemill {
namespace {

struct BitCase {
    const char* what;
    std::vector<uint8_t> bytes;
    uint64_t bit_position;
    uint64_t bit_count;
    bool little_endian;
    uint64_t expected;
};

class BitReaderCases : public ::testing::TestWithParam<BitCase> {};

TEST_P(BitReaderCases, ReadsTheField) {
    const BitCase& c = GetParam();
    EXPECT_EQ(read_bits(c.bytes, c.bit_position, c.bit_count, c.little_endian), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BitReaderCases,
    ::testing::Values(
        BitCase{"little-endian bits 4..11", {0xAB, 0xCD}, 4, 8, true, 0xDA},
        BitCase{"big-endian 8 bits from bit 4", {0xAB, 0xCD}, 4, 8, false, 0xBC},
        BitCase{"little-endian u16", {0xAB, 0xCD}, 0, 16, true, 0xCDAB},
        BitCase{"big-endian u16", {0xAB, 0xCD}, 0, 16, false, 0xABCD},
        BitCase{"single low bit", {0x01}, 0, 1, true, 1},
        BitCase{"single bit, big-endian counts from the top", {0x01}, 0, 1, false, 0},
        BitCase{"last bit, big-endian", {0x01}, 7, 1, false, 1},
        BitCase{"field one bit past the view", {0xAB, 0xCD}, 9, 8, true, 0},
        BitCase{"empty view", {}, 0, 8, true, 0},
        BitCase{"zero bits", {0xFF}, 0, 0, true, 0},
        BitCase{"more than 64 bits", std::vector<uint8_t>(16, 0xFF), 0, 65, true, 0},
        BitCase{"full 64 bits", {1, 2, 3, 4, 5, 6, 7, 8}, 0, 64, true, 0x0807060504030201},
        BitCase{"64 bits over nine bytes", {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A}, 4, 64, true,
                0xAFFFFFFFFFFFFFFF},
        BitCase{"64 bits over nine bytes, big-endian", {0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 4,
                64, false, 0xAFFFFFFFFFFFFFFF},
        BitCase{"beyond the first 8 KiB", [] {
                    std::vector<uint8_t> v(9000, 0);
                    v[8500] = 0x5A;
                    return v;
                }(), 8500 * 8, 8, true, 0x5A}));

// The definition, one bit at a time.
uint64_t reference_bits(const std::vector<uint8_t>& bytes, uint64_t position, uint64_t count, bool little_endian) {
    uint64_t value = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t i = position + k;
        if (little_endian) {
            value |= uint64_t((bytes[i / 8] >> (i % 8)) & 1) << k;
        } else {
            value = (value << 1) | ((bytes[i / 8] >> (7 - i % 8)) & 1);
        }
    }
    return value;
}

TEST(BitReader, AgreesWithTheBitByBitDefinition) {
    std::mt19937_64 random(7);
    std::vector<uint8_t> bytes(12);
    for (int round = 0; round < 20000; ++round) {
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        const uint64_t count = 1 + random() % 64;
        const uint64_t position = random() % (bytes.size() * 8 - count + 1);
        const bool little_endian = random() & 1;
        ASSERT_EQ(read_bits(bytes, position, count, little_endian),
                  reference_bits(bytes, position, count, little_endian))
            << "position " << position << " count " << count << " little_endian " << little_endian;
    }
}

// Fields are read with one 8-byte load where the view allows it, anchored at
// the field or at the end of the view, and byte by byte in views shorter than
// eight bytes: every field position of views of every size up to 20 bytes must
// read as the bit-by-bit definition says, in both byte orders.
TEST(BitReaderViewSizes, EveryFieldOfEveryViewSize) {
    std::mt19937_64 random(99);
    for (size_t size = 1; size <= 20; ++size) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        const uint64_t bits = size * 8;
        for (uint64_t count = 1; count <= 64 && count <= bits; ++count) {
            for (uint64_t position = 0; position + count <= bits; ++position) {
                for (bool little_endian : {true, false}) {
                    ASSERT_EQ(read_bits(bytes, position, count, little_endian),
                              reference_bits(bytes, position, count, little_endian))
                        << "view " << size << " position " << position << " count " << count << " little_endian "
                        << little_endian;
                }
            }
        }
        // Fields reaching past the view read as 0.
        EXPECT_EQ(read_bits(bytes, bits - 3, 4, true), 0u) << size;
        EXPECT_EQ(read_bits(bytes, bits - 3, 4, false), 0u) << size;
    }
}

}  // namespace
}  // namespace tracemill
