#include "common/hash_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tracemill {
namespace {

TEST(HashText, PinnedValuesByLength) {
    const uint64_t c = kHashMultiplier;
    EXPECT_EQ(hash_text(""), 1u);
    EXPECT_EQ(hash_text("abcd"), uint64_t{0x64636261} * c);
    EXPECT_EQ(hash_text("abcdefgh"), uint64_t{0x6867666564636261} * c);
    // Three bytes: h = 'a', no whole word, then h = h * 1023 - b per byte.
    uint64_t h = 'a';
    for (unsigned char b : std::string("abc")) h = h * 1023 - b;
    EXPECT_EQ(hash_text("abc"), h ^ std::rotl(h, 26));
    // Eleven bytes: one whole word, three trailing bytes.
    h = 'h';
    h += uint64_t{0x6f77206f6c6c6568} * c;  // "hello wo"
    for (unsigned char b : std::string("rld")) h = h * 1023 - b;
    EXPECT_EQ(hash_text("hello world"), h ^ std::rotl(h, 26));
    // Bytes above 0x7F are taken unsigned.
    h = 0xC3;
    for (unsigned char b : std::string("\xC3\xA9")) h = h * 1023 - b;
    EXPECT_EQ(hash_text("\xC3\xA9"), h ^ std::rotl(h, 26));
}

TEST(HashMap, GrowsFromEmptyToFiveThenEleven) {
    HashMap<uint64_t, int> map;
    EXPECT_EQ(map.capacity(), 0u);
    std::vector<size_t> capacities;
    for (uint64_t k = 0; k < 12; ++k) {
        ASSERT_TRUE(map.insert(k * 7 + 1, static_cast<int>(k)));
        capacities.push_back(map.capacity());
    }
    EXPECT_EQ(capacities[0], 5u);
    EXPECT_EQ(capacities[3], 5u);   // four entries still fit in five slots
    EXPECT_EQ(capacities[4], 11u);  // the fifth insertion rebuilds
    for (uint64_t k = 0; k < 12; ++k) {
        ASSERT_NE(map.find(k * 7 + 1), nullptr);
        EXPECT_EQ(*map.find(k * 7 + 1), static_cast<int>(k));
    }
    EXPECT_EQ(map.find(2), nullptr);
}

TEST(HashMap, PresentKeyKeepsOldEntry) {
    HashMap<std::string, std::string> map;
    EXPECT_TRUE(map.insert("default", "first"));
    EXPECT_FALSE(map.insert("default", "second"));
    EXPECT_EQ(*map.find("default"), "first");
    EXPECT_EQ(map.size(), 1u);
}

TEST(HashMap, ProbingWrapsAroundTheEnd) {
    // Find keys whose home slot in a 5-slot table is the last slot.
    HashMap<uint64_t, int> map;
    std::vector<uint64_t> last_slot_keys;
    for (uint64_t k = 1; last_slot_keys.size() < 3; ++k) {
        uint32_t low = static_cast<uint32_t>(hash_integer(k));
        if (((uint64_t{5} * low) >> 32) == 4) last_slot_keys.push_back(k);
    }
    for (uint64_t k : last_slot_keys) ASSERT_TRUE(map.insert(k, static_cast<int>(k)));
    ASSERT_EQ(map.capacity(), 5u);
    EXPECT_EQ(map.slot_of(last_slot_keys[0]), 4u);
    EXPECT_EQ(map.slot_of(last_slot_keys[1]), 0u);
    EXPECT_EQ(map.slot_of(last_slot_keys[2]), 1u);
    std::vector<uint64_t> order;
    map.for_each([&](uint64_t key, int) { order.push_back(key); });
    EXPECT_EQ(order, (std::vector<uint64_t>{last_slot_keys[1], last_slot_keys[2], last_slot_keys[0]}));
}

TEST(HashMap, FileKeysApartByMultiplesOf2To32SpreadOverTheTable) {
    // With the plain product their hashes share the low 32 bits: every one
    // would have slot 0 as its home and probe past all the others.
    HashMap<FileKey, int> map;
    constexpr uint64_t kKeys = 2000;
    for (uint64_t k = 0; k < kKeys; ++k) ASSERT_TRUE(map.insert(k << 32, 0));
    uint64_t displacement = 0;
    for (uint64_t k = 0; k < kKeys; ++k) {
        const uint64_t hash = HashKey<FileKey>::hash(k << 32);
        const size_t home = (uint64_t{map.capacity()} * static_cast<uint32_t>(hash)) >> 32;
        const size_t slot = map.slot_of(k << 32);
        ASSERT_NE(slot, map.kNotFound);
        displacement += (slot + map.capacity() - home) % map.capacity();
    }
    EXPECT_LT(displacement / kKeys, 8u);
}

}  // namespace
}  // namespace tracemill
