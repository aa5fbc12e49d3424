// Shards: the K/N text, the documented folder hash, and every file in exactly one shard.
#include "driver/shard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/input_list.h"

namespace tracemill {
namespace {

TEST(Shard, ParsesKOfN) {
    struct Case {
        const char* text;
        bool valid;
        uint32_t index, count;
    };
    const std::vector<Case> cases = {
        {"1/1", true, 1, 1},        {"2/3", true, 2, 3},  {"3/3", true, 3, 3},
        {"007/10", true, 7, 10},    {"4294967295/4294967295", true, 4294967295u, 4294967295u},
        {"0/3", false, 0, 0},       {"4/3", false, 0, 0}, {"1/0", false, 0, 0},
        {"1/4294967296", false, 0, 0}, {"1", false, 0, 0}, {"/3", false, 0, 0},
        {"1/", false, 0, 0},        {"1/3/", false, 0, 0}, {" 1/3", false, 0, 0},
        {"+1/3", false, 0, 0},      {"1/3x", false, 0, 0}, {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        Shard shard{9, 9};
        EXPECT_EQ(parse_shard(c.text, shard), c.valid) << c.text;
        // A rejected text leaves the shard as it was.
        EXPECT_EQ(shard.index, c.valid ? c.index : 9u) << c.text;
        EXPECT_EQ(shard.count, c.valid ? c.count : 9u) << c.text;
    }
}

TEST(Shard, FolderHashIsSixtyFourBitFnv1a) {
    // The published FNV-1a test values: the hash is stable across builds and machines.
    EXPECT_EQ(folder_hash(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(folder_hash("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(folder_hash("foobar"), 0x85944171f73967e8ULL);
}

TEST(Shard, EachFolderIsInExactlyOneShardWithAllItsFiles) {
    const std::vector<std::string> folders = {"", "0000AAAA/", "0000AAAA/S01/", "0000AAAA/S02/", "0000BBBB/S01/",
                                              "fleet/2026-12-08/0000CCCC/"};
    for (const uint32_t count : {1u, 2u, 3u, 7u}) {
        for (const std::string& folder : folders) {
            int holders = 0;
            for (uint32_t index = 1; index <= count; ++index) {
                const Shard shard{index, count};
                const bool held = shard.holds_folder(folder);
                holders += held ? 1 : 0;
                EXPECT_EQ(held, folder_hash(folder) % count + 1 == index);
                // Its files, log or not, and a folder inside it that fails.
                for (const char* name : {"1.MF4", "2.mfc", "notes.txt", "sub"})
                    EXPECT_EQ(shard.holds(folder + name), held) << folder << name;
            }
            EXPECT_EQ(holders, 1) << folder << " in " << count;
        }
    }
}

TEST(InputList, SplitsLinesOrNulNames) {
    struct Case {
        std::string text;
        char separator;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {"a.MF4\nb/c.mf4\n", '\n', {"a.MF4", "b/c.mf4"}},
        {"a.MF4\r\n\n\nlast", '\n', {"a.MF4", "last"}},
        {"with space.MF4\n", '\n', {"with space.MF4"}},
        {std::string("a\nb.MF4\0c.MF4\0\0", 15), '\0', {"a\nb.MF4", "c.MF4"}},
        {"", '\n', {}},
        {std::string("x\0y", 3), '\n', {std::string("x\0y", 3)}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_input_list(c.text, c.separator), c.paths) << c.text;
}

}  // namespace
}  // namespace tracemill
