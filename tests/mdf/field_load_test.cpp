// A field load planned for one record size reads what the general bit reader
// reads, and is not used for records of another size.
#include "mdf/field_load.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <vector>

#include "mdf/bit_reader.h"

namespace tracemill {
namespace {

std::vector<uint8_t> random_bytes(std::mt19937_64& random, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(FieldLoad, PlannedLoadsReadWhatTheBitReaderReads) {
    std::mt19937_64 random(11);
    const uint64_t sizes[] = {1, 2, 3, 7, 8, 9, 12, 16, 24, 33};
    const uint64_t counts[] = {0, 1, 2, 3, 7, 8, 9, 13, 16, 31, 32, 33, 52, 53, 56, 57, 58, 63, 64, 65};
    for (uint64_t size : sizes) {
        const std::vector<uint8_t> bytes = random_bytes(random, size);
        const std::span<const uint8_t> view(bytes);
        for (uint64_t position = 0; position <= size * 8 + 9; ++position) {
            for (uint64_t count : counts) {
                for (bool little_endian : {true, false}) {
                    const FieldLoad load = plan_field_load(position, count, little_endian, size);
                    bool slow = false;
                    const uint64_t got = load_field(load, size, view, [&] {
                        slow = true;
                        return read_bits(view, position, count, little_endian);
                    });
                    ASSERT_EQ(got, read_bits(view, position, count, little_endian))
                        << "size " << size << " position " << position << " count " << count << " le "
                        << little_endian;
                    // Records of 8 bytes and more take every field that fits a word without the bit reader.
                    if (size >= 8 && count <= 57) {
                        EXPECT_FALSE(slow) << size << " " << position << " " << count;
                    }
                }
            }
        }
    }
}

TEST(FieldLoad, PlansForAnotherSizeAreNotUsed) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22};
    const FieldLoad load = plan_field_load(8, 16, true, 16);  // planned for 16-byte records
    bool slow = false;
    const uint64_t got = load_field(load, 16, std::span<const uint8_t>(bytes), [&] {
        slow = true;
        return uint64_t{7};
    });
    EXPECT_TRUE(slow);
    EXPECT_EQ(got, 7u);
}

}  // namespace
}  // namespace tracemill
