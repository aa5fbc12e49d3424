// Fields are read with one 8-byte load where the view allows it, anchored at
// the field or at the end of the view, and byte by byte in views shorter than
// eight bytes: every field position of views of every size up to 20 bytes must
// read as the bit-by-bit definition says, in both byte orders.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mdf/bit_reader.h"

namespace tracemill {
namespace {

uint64_t bit_by_bit(const std::vector<uint8_t>& bytes, uint64_t position, uint64_t count, bool little_endian) {
    uint64_t value = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t i = position + k;
        const uint64_t bit = little_endian ? (bytes[i / 8] >> (i % 8)) & 1 : (bytes[i / 8] >> (7 - i % 8)) & 1;
        value = little_endian ? value | (bit << k) : (value << 1) | bit;
    }
    return value;
}

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
                              bit_by_bit(bytes, position, count, little_endian))
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
