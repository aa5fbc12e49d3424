// The write side of the local root: staged files appear under their name only
// when committed, leave nothing when not, and never pass a symbolic link.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "driver/file_system_root.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;
namespace fs = std::filesystem;

std::string content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every name below `folder`, links not followed.
std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        found.insert(entry.path().lexically_relative(folder).string());
    return found;
}

TEST(LocalOutputTree, StagedFilesArePublishedWholeOrNotAtAll) {
    struct Case {
        const char* name;
        std::function<void(const TempFolder&)> prepare;  // in the output root "out"
        const char* path;
        uint32_t mode;
        bool commit;
        bool created;                      // create_staged gave a file
        std::set<std::string> out_after;  // names below "out" afterwards
        const char* t_trc_after;           // content of out/a/t.trc, nullptr: none
    };
    const auto nothing = [](const TempFolder&) {};
    const auto earlier = [](const TempFolder& t) { t.write("out/a/t.trc", "earlier"); };
    const std::vector<Case> cases = {
        {"committed, folders made on the way", nothing, "a/t.trc", kSharedFileMode, true, true,
         {"a", "a/t.trc"}, "new"},
        {"committed over an earlier file", earlier, "a/t.trc", kSharedFileMode, true, true, {"a", "a/t.trc"}, "new"},
        {"not committed: the earlier file stays", earlier, "a/t.trc", kSharedFileMode, false, true,
         {"a", "a/t.trc"}, "earlier"},
        {"private", nothing, "a/t.trc", kPrivateFileMode, true, true, {"a", "a/t.trc"}, "new"},
        {"link at a folder on the way",
         [](const TempFolder& t) {
             t.folder("out");
             t.folder("elsewhere");
             fs::create_directory_symlink("../elsewhere", t.path() / "out/a");
         },
         "a/t.trc", kSharedFileMode, true, false, {"a"}, nullptr},
        {"link at the name",
         [](const TempFolder& t) {
             t.write("elsewhere/x", "outside");
             t.folder("out/a");
             fs::create_symlink("../../elsewhere/x", t.path() / "out/a/t.trc");
         },
         "a/t.trc", kSharedFileMode, true, false, {"a", "a/t.trc"}, "outside"},
        {"folder at the name", [](const TempFolder& t) { t.folder("out/a/t.trc"); }, "a/t.trc", kSharedFileMode,
         true, false, {"a", "a/t.trc"}, nullptr},
        {"parent reference", nothing, "../t.trc", kSharedFileMode, true, false, {}, nullptr},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        temp.folder("out");
        c.prepare(temp);
        auto root = local_root_new((temp.path() / "out").string());
        ASSERT_NE(root, nullptr) << c.name;
        StderrCapture quiet;
        {
            std::unique_ptr<StagedFile> file = root->create_staged(c.path, c.mode);
            ASSERT_EQ(file != nullptr, c.created) << c.name;
            if (file) {
                EXPECT_EQ(file->write("new", 3), 3) << c.name;
                if (c.commit) {
                    EXPECT_TRUE(file->commit(true)) << c.name;
                }
            }
        }
        EXPECT_EQ(names(temp.path() / "out"), c.out_after) << c.name;
        if (c.t_trc_after) {
            EXPECT_EQ(content(temp.path() / "out/a/t.trc"), c.t_trc_after) << c.name;
        }
        if (fs::exists(temp.path() / "elsewhere")) {
            EXPECT_LE(names(temp.path() / "elsewhere").size(), 1u) << c.name << ": written through a link";
        }
        if (c.created && c.commit) {
            const mode_t mask = umask(0);
            umask(mask);
            struct stat info {};
            ASSERT_EQ(stat((temp.path() / "out" / c.path).c_str(), &info), 0) << c.name;
            EXPECT_EQ(info.st_mode & 0777, c.mode & ~mask) << c.name;
        }
    }
}

TEST(LocalOutputTree, MakeDirNeverPassesALink) {
    TempFolder temp;
    temp.folder("out");
    temp.folder("elsewhere");
    fs::create_directory_symlink("../elsewhere", temp.path() / "out/linked");
    auto root = local_root_new((temp.path() / "out").string());
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->make_dir("real"));
    EXPECT_TRUE(root->make_dir("real/sub"));
    EXPECT_FALSE(root->make_dir("linked/sub"));
    EXPECT_FALSE(root->make_dir("../up"));
    EXPECT_TRUE(fs::is_empty(temp.path() / "elsewhere"));
    EXPECT_FALSE(fs::exists(temp.path() / "up"));
}

}  // namespace
}  // namespace tracemill
