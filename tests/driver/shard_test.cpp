// Shards: the k/n text, the documented folder hash, and input list splitting.
#include "driver/shard.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "driver/input_list.h"

namespace tracemill {
namespace {

TEST(Shard, ParsesKOfN) {
    const std::vector<std::pair<const char*, Shard>> valid = {
        {"1/1", {1, 1}}, {"2/3", {2, 3}}, {"007/10", {7, 10}}, {"4294967295/4294967295", {4294967295u, 4294967295u}}};
    for (const auto& [text, expected] : valid) {
        Shard shard;
        EXPECT_TRUE(parse_shard(text, shard)) << text;
        EXPECT_EQ(shard.index, expected.index) << text;
        EXPECT_EQ(shard.count, expected.count) << text;
    }
    for (const char* text : {"0/3", "4/3", "1/0", "1/4294967296", "1", "/3", "1/", "1/3/", " 1/3", "+1/3", "1/3x", ""}) {
        Shard shard{9, 9};
        EXPECT_FALSE(parse_shard(text, shard)) << text;
        EXPECT_EQ(shard.index, 9u) << text;  // left as it was
    }
}

TEST(Shard, FolderOfTheFileDecidesByFnv1a) {
    // The published 64-bit FNV-1a values: the hash is the same on every machine.
    EXPECT_EQ(folder_hash(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(folder_hash("foobar"), 0x85944171f73967e8ULL);
    for (const std::string folder : {"", "0000AAAA/S01/", "0000AAAA/S02/", "fleet/2026-12-08/0000CCCC/"}) {
        int holders = 0;
        for (uint32_t index = 1; index <= 3; ++index) {
            const Shard shard{index, 3};
            holders += shard.holds_folder(folder) ? 1 : 0;
            EXPECT_EQ(shard.holds_folder(folder), folder_hash(folder) % 3 + 1 == index) << folder;
            for (const char* name : {"1.MF4", "notes.txt", "sub"})
                EXPECT_EQ(shard.holds(folder + name), shard.holds_folder(folder)) << folder << name;
        }
        EXPECT_EQ(holders, 1) << folder;
    }
}

TEST(InputList, SplitsLinesOrNulNames) {
    const std::vector<std::tuple<std::string, char, std::vector<std::string>>> cases = {
        {"a.MF4\r\n\n\nb/c d.mf4", '\n', {"a.MF4", "b/c d.mf4"}},
        {std::string("a\nb.MF4\0c.MF4\0\0", 15), '\0', {"a\nb.MF4", "c.MF4"}},
        {"", '\n', {}},
    };
    for (const auto& [text, separator, paths] : cases) EXPECT_EQ(split_input_list(text, separator), paths) << text;
}

}  // namespace
}  // namespace tracemill
