// The Windows disk root: UTF-8 names through the wide API, staged output
// files published whole or removed, inputs removed only while unchanged.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/wide_text_windows.h"
#include "driver/file_system_root.h"
#include "driver_test_support.h"
#include "streams/byte_stream.h"

namespace tracemill {
namespace {

using driver_test::TempFolder;
namespace fs = std::filesystem;

fs::path utf8_path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string read_all(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> names_in(FileSystemRoot& root, const std::string& folder) {
    std::vector<std::string> names;
    for (const FolderEntry& entry : root.list(folder).entries) names.push_back(entry.name);
    return names;
}

TEST(WindowsText, Utf8RoundTripsAndInvalidBytesAreRefused) {
    struct Case {
        std::string utf8;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"plain.mf4", true}, {"Fahrt \xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80.mf4", true},
        {"\xFF\xC3(.mf4", false}, {"\xED\xA0\x80.mf4", false},  // a lone surrogate written as UTF-8
    };
    for (const Case& c : cases) {
        std::wstring wide;
        std::string back;
        ASSERT_EQ(wide_from_utf8(c.utf8, wide), c.valid) << c.utf8;
        if (c.valid) EXPECT_TRUE(utf8_from_wide(wide, back) && back == c.utf8) << c.utf8;
    }
    std::string text;
    EXPECT_FALSE(utf8_from_wide(std::wstring(1, wchar_t(0xD800)), text));
    std::wstring path;
    ASSERT_TRUE(windows_path("C:/a/b", path));
    EXPECT_EQ(path, L"C:\\a\\b");
}

TEST(WindowsRoot, NamesAreListedAsUtf8InByteOrder) {
    TempFolder temp;
    const std::vector<std::string> names = {"B.mf4", "a.mf4", "\xC3\xA4.mf4", "\xE2\x82\xAC"};
    for (const std::string& name : names) std::ofstream(temp.path() / utf8_path(name)) << "x";
    auto root = local_root_new(temp.str());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(names_in(*root, ""), (std::vector<std::string>{"B.mf4", "a.mf4", "\xC3\xA4.mf4", "\xE2\x82\xAC"}));
    const std::optional<PathInfo> info = root->stat("\xC3\xA4.mf4");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->kind, PathKind::File);
    EXPECT_EQ(info->size, 1u);
    EXPECT_NE(root->open_input("\xE2\x82\xAC").stream, nullptr);
}

TEST(WindowsRoot, StagedFilesArePublishedWholeOrLeaveNothing) {
    enum class End { Commit, Discard, Dropped };
    struct Case {
        const char* name;
        End end;
        std::string final_text;  // empty: the earlier file stays
    };
    const std::vector<Case> cases = {
        {"commit", End::Commit, "HEADER body"},
        {"discard", End::Discard, ""},
        {"dropped without either", End::Dropped, ""},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        std::ofstream(temp.folder("out") / utf8_path("\xC3\xA4.trc"), std::ios::binary) << "earlier";
        auto root = local_root_new(temp.str());
        ASSERT_NE(root, nullptr);
        std::unique_ptr<StagedFile> staged = root->create_staged("out/\xC3\xA4.trc", kSharedFileMode);
        ASSERT_NE(staged, nullptr) << c.name;
        ASSERT_EQ(staged->write("xxxxxx body", 11), 11);
        ASSERT_TRUE(staged->write_at(0, "HEADER", 6));
        EXPECT_EQ(names_in(*root, "out").size(), 2u) << c.name << ": the temporary sits beside the file";
        if (c.end == End::Commit) EXPECT_TRUE(staged->commit(true)) << c.name;
        if (c.end == End::Discard) EXPECT_TRUE(staged->discard()) << c.name;
        staged.reset();
        EXPECT_EQ(names_in(*root, "out"), std::vector<std::string>{"\xC3\xA4.trc"}) << c.name;
        EXPECT_EQ(read_all(temp.path() / utf8_path("out/\xC3\xA4.trc")),
                  c.final_text.empty() ? "earlier" : c.final_text)
            << c.name;
    }
}

TEST(WindowsRoot, OutputsThatAreNoFileAreRefusedAndFoldersMade) {
    TempFolder temp;
    temp.folder("out/taken.trc");
    auto root = local_root_new(temp.str());
    ASSERT_NE(root, nullptr);
    set_log_threshold(0);
    driver_test::StderrCapture capture;
    EXPECT_EQ(root->create_staged("out/taken.trc", kSharedFileMode), nullptr);
    EXPECT_NE(capture.text().find("Output path out/taken.trc is a symbolic link or not a regular file"),
              std::string::npos);
    EXPECT_EQ(root->create_staged("out/../x.trc", kSharedFileMode), nullptr);
    auto staged = root->create_staged("new/deeper/x.trc", kPrivateFileMode);
    ASSERT_NE(staged, nullptr);
    EXPECT_TRUE(staged->commit(false));
    EXPECT_TRUE(fs::is_regular_file(temp.path() / "new/deeper/x.trc"));
    EXPECT_TRUE(root->make_dir("new/other"));
    EXPECT_FALSE(root->make_dir("new/other"));  // exists already
}

TEST(WindowsRoot, InputsAreRemovedOnlyWhileUnchanged) {
    struct Case {
        const char* name;
        bool change;
        RemovalOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"unchanged", false, RemovalOutcome::Removed},
        {"appended to", true, RemovalOutcome::Kept},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        const fs::path input = temp.write("run/a.mf4", "log");
        auto root = local_root_new(temp.str());
        ASSERT_NE(root, nullptr);
        OpenedInput opened = root->open_input("run/a.mf4");
        ASSERT_NE(opened.stream, nullptr) << c.name;
        ASSERT_TRUE(opened.identity.known) << c.name;
        stream_close(std::move(opened.stream));
        if (c.change) std::ofstream(input, std::ios::app) << " and more";
        const InputRemoval removal = root->remove_input("run/a.mf4", opened.identity);
        EXPECT_EQ(removal.outcome, c.outcome) << c.name;
        EXPECT_EQ(fs::exists(input), c.outcome != RemovalOutcome::Removed) << c.name;
    }
}

}  // namespace
}  // namespace tracemill
