// Byte areas for whole files: content kept across growth (also from the heap
// into a mapping and from one mapping into a larger one, and for areas that
// hold secrets, which grow by copying and wiping), zeros wherever nothing was
// written, and huge-page alignment of large areas.
#include "streams/page_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace tracemill {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

// Byte i of a test pattern; never 0, so a lost byte shows as a zero.
uint8_t pattern(uint64_t i) { return static_cast<uint8_t>(1 + (i * 131 + (i >> 13)) % 251); }

void fill(PageMemory& memory, uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i) memory.data()[i] = pattern(i);
}

// First index in [from, to) that does not hold the pattern, or `to`.
uint64_t first_pattern_mismatch(const PageMemory& memory, uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i)
        if (memory.data()[i] != pattern(i)) return i;
    return to;
}

uint64_t first_nonzero(const PageMemory& memory, uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i)
        if (memory.data()[i] != 0) return i;
    return to;
}

TEST(PageMemory, GrowthKeepsContentAndZeroFillsTheRest) {
    // Each case grows one area through these sizes, writing the pattern into
    // every new part: small heap sizes, the step into a mapping, within a
    // mapping's rounding, and from one mapping into a larger one.
    const std::vector<std::vector<uint64_t>> cases = {
        {1, 2, 4, 1000},
        {100, 2 * kMiB},
        {2 * kMiB - 1, 2 * kMiB + 1, 3 * kMiB},
        {3 * kMiB, 3 * kMiB + 5, 4 * kMiB},
        {5 * kMiB, 11 * kMiB, 40 * kMiB + 3},
    };
    for (bool secret : {false, true})
    for (const auto& sizes : cases) {
        SCOPED_TRACE(secret ? "holding secrets" : "plain");
        PageMemory memory;
        if (secret) memory.hold_secrets();
        uint64_t written = 0;
        for (uint64_t size : sizes) {
            ASSERT_TRUE(memory.resize(size)) << size;
            ASSERT_EQ(memory.size(), size);
            ASSERT_NE(memory.data(), nullptr);
            EXPECT_EQ(first_pattern_mismatch(memory, 0, written), written) << "growing to " << size;
            EXPECT_EQ(first_nonzero(memory, written, size), size) << "growing to " << size;
            fill(memory, written, size);
            written = size;
        }
    }
}

TEST(PageMemory, BytesGivenUpReadAsZeroWhenTakenBack) {
    for (uint64_t size : {uint64_t{4096}, 6 * kMiB}) {
        PageMemory memory;
        ASSERT_TRUE(memory.resize(size));
        fill(memory, 0, size);
        ASSERT_TRUE(memory.resize(size / 2));
        ASSERT_TRUE(memory.resize(size));
        EXPECT_EQ(first_pattern_mismatch(memory, 0, size / 2), size / 2) << size;
        EXPECT_EQ(first_nonzero(memory, size / 2, size), size) << size;
    }
}

TEST(PageMemory, LargeAreasStartOnHugePageBoundaries) {
    PageMemory memory;
    ASSERT_TRUE(memory.resize(3 * kMiB));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory.data()) % (2 * kMiB), 0u);
    ASSERT_TRUE(memory.resize(9 * kMiB));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory.data()) % (2 * kMiB), 0u);
}

TEST(PageMemory, MovesOwnershipAndReleases) {
    PageMemory first;
    first.hold_secrets();
    ASSERT_TRUE(first.resize(4 * kMiB));
    fill(first, 0, 4 * kMiB);
    PageMemory second(std::move(first));
    EXPECT_EQ(first.data(), nullptr);
    EXPECT_EQ(first.size(), 0u);
    EXPECT_FALSE(first.holds_secrets());
    EXPECT_TRUE(second.holds_secrets()) << "the secrets go with the area";
    EXPECT_EQ(first_pattern_mismatch(second, 0, 4 * kMiB), 4 * kMiB);

    PageMemory third;
    ASSERT_TRUE(third.resize(10));
    third = std::move(second);
    EXPECT_EQ(third.size(), 4 * kMiB);
    EXPECT_TRUE(third.holds_secrets());
    EXPECT_EQ(first_pattern_mismatch(third, 0, 4 * kMiB), 4 * kMiB);

    EXPECT_TRUE(third.resize(0));
    EXPECT_EQ(third.data(), nullptr);
    EXPECT_EQ(third.size(), 0u);
}

TEST(PageMemory, ImpossibleSizesFailAndKeepTheArea) {
    PageMemory memory;
    ASSERT_TRUE(memory.resize(16));
    fill(memory, 0, 16);
    EXPECT_FALSE(memory.resize(UINT64_MAX));
    EXPECT_FALSE(memory.resize(UINT64_MAX / 2));  // no machine maps 8 EiB
    EXPECT_EQ(memory.size(), 16u);
    EXPECT_EQ(first_pattern_mismatch(memory, 0, 16), 16u);
}

}  // namespace
}  // namespace tracemill
