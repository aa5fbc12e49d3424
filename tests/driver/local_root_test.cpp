// The local file-system root: paths, stat kinds, byte-ordered listing, files.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
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

    fs::create_symlink("loop", temp.path() / "run/loop");
    auto names = [&](std::string_view folder) {
        FolderListing listing = root->list(folder);
        std::vector<std::string> out;
        for (const FolderEntry& entry : listing.entries) {
            EXPECT_EQ(entry.error, 0) << entry.name;
            EXPECT_EQ(entry.kind, entry.name == "sub" ? PathKind::Directory : PathKind::File) << entry.name;
            out.push_back(entry.name);
        }
        EXPECT_EQ(listing.error, 0) << folder;
        return out;
    };
    const std::vector<std::string> expected = {"10.MF4", "B.MF4", "a.mf4", "notes.txt", "sub", "\xC3\xA9.mf4"};
    EXPECT_EQ(names("run"), expected);
    EXPECT_EQ(names("run/"), expected);
    EXPECT_EQ(root->list("missing").error, ENOENT);
    EXPECT_EQ(root->list("run/B.MF4").error, ENOTDIR);
}

// -d removes an input only while its name, reached without a link, leads to the
// file as it was opened.
TEST(LocalRoot, InputIsRemovedOnlyWhileItIsTheFileThatWasOpened) {
    struct Case {
        const char* name;
        const char* path;                       // as the walk reaches it
        std::function<void(const fs::path&)> meanwhile;  // between opening and removal, given the root folder
        RemovalOutcome outcome;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"unchanged", "run/a.mf4", nullptr, RemovalOutcome::Removed, ""},
        {"grown", "run/a.mf4", [](const fs::path& r) { std::ofstream(r / "run/a.mf4", std::ios::app) << "more"; },
         RemovalOutcome::Kept, "it changed during the conversion"},
        {"renamed over", "run/a.mf4",
         [](const fs::path& r) {
             std::ofstream(r / "other", std::ios::binary) << "log";
             fs::rename(r / "other", r / "run/a.mf4");
         },
         RemovalOutcome::Kept, "another file took its name during the conversion"},
        {"gone", "run/a.mf4", [](const fs::path& r) { fs::remove(r / "run/a.mf4"); }, RemovalOutcome::Failed, ""},
        {"through a folder link", "run/link/a.mf4", nullptr, RemovalOutcome::Kept,
         "it was reached through a symbolic link"},
        {"a file link", "run/alias.mf4", nullptr, RemovalOutcome::Kept, "it was reached through a symbolic link"},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        temp.write("run/a.mf4", "log");
        temp.write("archive/a.mf4", "log");
        fs::create_directory_symlink("../archive", temp.path() / "run/link");
        fs::create_symlink("a.mf4", temp.path() / "run/alias.mf4");
        auto root = local_root_new(temp.str() + "/");
        ASSERT_NE(root, nullptr);
        OpenedInput input = root->open_input(c.path);
        ASSERT_NE(input.stream, nullptr) << c.name;
        EXPECT_TRUE(input.identity.known) << c.name;
        EXPECT_EQ(input.identity.size, 3u) << c.name;
        stream_close(std::move(input.stream));
        if (c.meanwhile) c.meanwhile(temp.path());
        const InputRemoval removal = root->remove_input(c.path, input.identity);
        EXPECT_EQ(removal.outcome, c.outcome) << c.name;
        EXPECT_EQ(removal.kept_because ? removal.kept_because : "", c.reason) << c.name;
        EXPECT_EQ(fs::exists(temp.path() / c.path), c.outcome == RemovalOutcome::Kept) << c.name;
        EXPECT_TRUE(fs::exists(temp.path() / "archive/a.mf4")) << c.name;
    }
    // Only regular files are opened as inputs, and a FIFO does not block the open.
    TempFolder temp;
    temp.folder("dir.mf4");
    ASSERT_EQ(mkfifo((temp.path() / "fifo.mf4").c_str(), 0600), 0);
    auto root = local_root_new(temp.str());
    for (const char* path : {"dir.mf4", "fifo.mf4", "missing.mf4"})
        EXPECT_EQ(root->open_input(path).stream, nullptr) << path;
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
