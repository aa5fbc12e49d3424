// The local file-system root: paths, stat kinds, byte-ordered listing, files.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/file_system_root.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::TempFolder;
namespace fs = std::filesystem;

TEST(LocalRoot, FullPathJoinsWithOneSlash) {
    struct Case {
        std::string root;
        std::string relative;
        std::string full;
    };
    const std::vector<Case> cases = {
        {"/r", "", "/r"},
        {"/r", "x/y", "/r/x/y"},
        {"/r/", "x", "/r//x"},  // the root keeps its final "/"; the platform accepts the doubled one
        {"", "x", "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileSystemRoot(c.root).full_path(c.relative), c.full);
}

TEST(LocalRoot, CreatedOnlyOnAnExistingFolder) {
    TempFolder temp;
    temp.write("a.MF4");
    EXPECT_NE(local_root_new(temp.str()), nullptr);
    EXPECT_NE(local_root_new(temp.str() + "/"), nullptr);
    EXPECT_EQ(local_root_new(temp.str() + "/a.MF4"), nullptr);
    EXPECT_EQ(local_root_new(temp.str() + "/missing"), nullptr);
}

TEST(LocalRoot, StatTellsTheKinds) {
    TempFolder temp;
    temp.write("a.MF4", "12345");
    temp.folder("run1");
    ASSERT_EQ(mkfifo((temp.path() / "pipe").c_str(), 0600), 0);
    auto root = local_root_new(temp.str());
    ASSERT_NE(root, nullptr);

    struct Case {
        std::string path;
        PathKind kind;
        uint64_t size;
    };
    const std::vector<Case> cases = {
        {"a.MF4", PathKind::File, 5},
        {"run1", PathKind::Directory, 0},
        {"", PathKind::Directory, 0},
        {"missing", PathKind::Missing, 0},
        {"a.MF4/inside", PathKind::Missing, 0},
        {"pipe", PathKind::Other, 0},
    };
    for (const Case& c : cases) {
        std::optional<PathInfo> info = root->stat(c.path);
        ASSERT_TRUE(info.has_value()) << c.path;
        EXPECT_EQ(info->kind, c.kind) << c.path;
        EXPECT_EQ(info->size, c.size) << c.path;
    }
    std::optional<PathInfo> folder = root->stat("run1");
    EXPECT_NE(folder->inode, 0u);
    EXPECT_NE(folder->inode, root->stat("")->inode);
}

TEST(LocalRoot, ListsFilesAndFoldersInByteOrder) {
    TempFolder temp;
    for (const char* name : {"B.MF4", "a.mf4", "10.MF4", "\xC3\xA9.mf4", "notes.txt"}) temp.write(std::string("run/") + name);
    temp.folder("run/sub");
    ASSERT_EQ(mkfifo((temp.path() / "run/pipe").c_str(), 0600), 0);
    fs::create_symlink(temp.path() / "nowhere", temp.path() / "run/dangling");
    auto root = local_root_new(temp.str());
    ASSERT_NE(root, nullptr);

    const std::vector<std::string> expected = {"10.MF4", "B.MF4", "a.mf4", "notes.txt", "sub", "\xC3\xA9.mf4"};
    EXPECT_EQ(root->list("run"), expected);
    EXPECT_EQ(root->list("run/"), expected);
    EXPECT_TRUE(root->list("missing").empty());
    EXPECT_TRUE(root->list("run/B.MF4").empty());
}

TEST(LocalRoot, MakeDirOpenAndRemove) {
    TempFolder temp;
    auto root = local_root_new(temp.str());
    ASSERT_NE(root, nullptr);

    EXPECT_TRUE(root->make_dir("out"));
    EXPECT_FALSE(root->make_dir("out"));
    EXPECT_FALSE(root->make_dir("deep/er"));  // one level at a time

    StreamPtr writer = root->open("out/t.trc", OPEN_WRITE | 4);  // unknown bits are ignored
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(stream_write(writer.get(), "hello", 5), 5);
    EXPECT_EQ(stream_close(std::move(writer)), 0);

    StreamPtr reader = root->open("out/t.trc", OPEN_READ);
    ASSERT_NE(reader, nullptr);
    char buffer[8] = {};
    EXPECT_EQ(stream_read(reader.get(), buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    stream_close(std::move(reader));

    EXPECT_EQ(root->open("out/t.trc", 0), nullptr);
    EXPECT_EQ(root->open("out/t.trc", OPEN_READ | OPEN_WRITE), nullptr);
    EXPECT_EQ(root->open("out/missing.trc", OPEN_READ), nullptr);

    EXPECT_TRUE(root->remove("out/t.trc"));
    EXPECT_FALSE(fs::exists(temp.path() / "out/t.trc"));
    EXPECT_FALSE(root->remove("out/t.trc"));
    EXPECT_FALSE(root->remove("out"));  // folders are not deleted
}

}  // namespace
}  // namespace tracemill
