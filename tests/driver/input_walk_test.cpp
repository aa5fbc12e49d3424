// The input walk: order, log-file filter, output stems and folders, results.
#include "driver/input_walk.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;
namespace fs = std::filesystem;

using Call = std::pair<std::string, std::string>;  // input path, output stem

// Records every conversion and answers with a result chosen per input.
struct RecordingConverter {
    std::vector<Call> calls;
    std::map<std::string, int> results;

    FileConverter converter() {
        return [this](ConversionContext&, std::string_view in, std::string_view stem) {
            calls.emplace_back(std::string(in), std::string(stem));
            auto it = results.find(std::string(in));
            return it == results.end() ? 0 : it->second;
        };
    }
};

class InputWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_log_threshold(0);
        root = local_root_new(temp.str());
        ASSERT_NE(root, nullptr);
        context.input_root = root.get();
        context.output_root = root.get();
        context.options = &options;
    }

    TempFolder temp;
    std::unique_ptr<FileSystemRoot> root;
    RunOptions options;
    ConversionContext context;
    RecordingConverter recorder;
};

TEST_F(InputWalkTest, FoldersDepthFirstInByteOrderWithLogFilesOnly) {
    for (const char* name : {"run1/B.MF4", "run1/a.mf4", "run1/10.MF4", "run1/notes.txt", "run1/MF4",
                              "run1/sub/c.mfe", "run1/sub/d.MfM", "run1/z.mfc"})
        temp.write(name);
    const int result = walk_path(context, "run1/", "run1_out/", recorder.converter());
    const std::vector<Call> expected = {
        {"run1/10.MF4", "run1_out/10"},     {"run1/B.MF4", "run1_out/B"},
        {"run1/a.mf4", "run1_out/a"},       {"run1/sub/c.mfe", "run1_out/sub/c"},
        {"run1/sub/d.MfM", "run1_out/sub/d"}, {"run1/z.mfc", "run1_out/z"},
    };
    EXPECT_EQ(result, 0);
    EXPECT_EQ(recorder.calls, expected);
    EXPECT_TRUE(fs::is_directory(temp.path() / "run1_out/sub"));
}

TEST_F(InputWalkTest, OutputStemsWithAndWithoutOutSuffix) {
    temp.write("run1/sub/b.mfe");
    temp.write("a.MF4");
    struct Case {
        bool no_append_root;
        std::vector<Call> expected;
    };
    const std::vector<Case> cases = {
        {false, {{"a.MF4", "a"}, {"run1/sub/b.mfe", "run1_out/sub/b"}}},
        {true, {{"a.MF4", "a"}, {"run1/sub/b.mfe", "run1/sub/b"}}},
    };
    for (const Case& c : cases) {
        RecordingConverter local;
        options.no_append_root = c.no_append_root;
        EXPECT_EQ(convert_inputs(context, {"a.MF4", "run1/"}, local.converter()), 0);
        EXPECT_EQ(local.calls, c.expected) << "no_append_root " << c.no_append_root;
    }
}

TEST_F(InputWalkTest, OutputFoldersGoUnderTheOutputRoot) {
    TempFolder output;
    auto output_root = local_root_new(output.str());
    ASSERT_NE(output_root, nullptr);
    context.output_root = output_root.get();
    temp.write("run1/sub/deeper/x.mf4");
    EXPECT_EQ(convert_inputs(context, {"run1/"}, recorder.converter()), 0);
    EXPECT_TRUE(fs::is_directory(output.path() / "run1_out/sub/deeper"));
    EXPECT_FALSE(fs::exists(temp.path() / "run1_out"));
}

TEST_F(InputWalkTest, ResultsCombineAndFailuresAreNamed) {
    temp.write("run1/a.mf4");
    temp.write("run1/b.mf4");
    temp.write("notes.txt");
    recorder.results["run1/a.mf4"] = 4;
    StderrCapture capture;
    const int result = convert_inputs(context, {"run1/", "gone.MF4", "notes.txt"}, recorder.converter());
    const std::string log = capture.text();
    EXPECT_EQ(result, 5);
    EXPECT_EQ(recorder.calls.size(), 2u);  // b.mf4 is still converted after a.mf4 failed
    EXPECT_NE(log.find(" E Error during conversion of run1/a.mf4\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("conversion of run1/b.mf4"), std::string::npos) << log;
    EXPECT_NE(log.find(" W Could not find input file/folder gone.MF4\n"), std::string::npos) << log;
}

TEST_F(InputWalkTest, PathThatIsNeitherFileNorFolderGives129) {
    ASSERT_EQ(mkfifo((temp.path() / "pipe.mf4").c_str(), 0600), 0);
    temp.write("a.mf4");
    StderrCapture capture;
    EXPECT_EQ(convert_inputs(context, {"pipe.mf4", "a.mf4"}, recorder.converter()), 129);
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(recorder.calls.size(), 1u);
}

// A root whose stat fails for chosen paths and whose listings can be replaced,
// over the local disk otherwise.
class FailingStatRoot : public FileSystemRoot {
public:
    FailingStatRoot(std::unique_ptr<FileSystemRoot> inner, std::vector<std::string> failing)
        : FileSystemRoot(inner->root()), inner_(std::move(inner)), failing_(std::move(failing)) {}
    std::map<std::string, FolderListing> listings;

    std::optional<PathInfo> stat(std::string_view path) override {
        for (const std::string& f : failing_)
            if (path == f) return std::nullopt;
        return inner_->stat(path);
    }
    FolderListing list(std::string_view path) override {
        auto it = listings.find(std::string(path));
        return it == listings.end() ? inner_->list(path) : it->second;
    }
    bool make_dir(std::string_view path) override { return inner_->make_dir(path); }

private:
    std::unique_ptr<FileSystemRoot> inner_;
    std::vector<std::string> failing_;
};

// What the walk makes of a folder that cannot be read to its end, entries that
// cannot be queried, and entries gone since the folder was listed.
TEST_F(InputWalkTest, ListingFailuresAreNamedWithTheirReason) {
    temp.write("run1/a.mf4");
    temp.write("run1/b.mf4");
    struct Case {
        const char* name;
        FolderListing listing;  // of run1/
        int result;
        std::vector<std::string> converted;
        std::string message;  // empty: nothing logged
    };
    const std::vector<Case> cases = {
        {"folder cannot be opened", {{}, EACCES}, 129, {}, " E Could not list folder run1/: Permission denied\n"},
        {"reading stops early", {{{"a.mf4", PathKind::File, 0}}, EIO}, 129, {"run1/a.mf4"},
         " E Could not list folder run1/: Input/output error\n"},
        {"entry cannot be queried", {{{"a.mf4", PathKind::Missing, EACCES}, {"b.mf4", PathKind::File, 0}}, 0}, 129,
         {"run1/b.mf4"}, " E Error during stat of run1/a.mf4: Permission denied\n"},
        {"entry gone since the listing", {{{"a.mf4", PathKind::File, 0}, {"gone.mf4", PathKind::File, 0}}, 0}, 0,
         {"run1/a.mf4"}, " D Passing over run1/gone.mf4: it disappeared during the walk\n"},
        {"folder gone since it was looked at", {{}, ENOENT}, 0, {}, ""},
    };
    for (const Case& c : cases) {
        FailingStatRoot scripted(local_root_new(temp.str()), {});
        scripted.listings["run1/"] = c.listing;
        context.input_root = &scripted;
        RecordingConverter local;
        StderrCapture capture;
        EXPECT_EQ(convert_inputs(context, {"run1/"}, local.converter()), c.result) << c.name;
        const std::string log = capture.text();
        std::vector<std::string> converted;
        for (const Call& call : local.calls) converted.push_back(call.first);
        EXPECT_EQ(converted, c.converted) << c.name;
        if (c.message.empty()) {
            EXPECT_EQ(log, "") << c.name;
        } else {
            EXPECT_NE(log.find(c.message), std::string::npos) << c.name << ": " << log;
        }
    }
}

TEST_F(InputWalkTest, StatErrorInsideTheWalkFailsThatPathOnly) {
    temp.write("run1/a.mf4");
    temp.write("run1/b.mf4");
    FailingStatRoot failing(local_root_new(temp.str()), {"run1/a.mf4"});
    context.input_root = &failing;
    StderrCapture capture;
    const int result = convert_inputs(context, {"run1/"}, recorder.converter());
    const std::string log = capture.text();
    EXPECT_EQ(result, 129);
    EXPECT_EQ(recorder.calls, (std::vector<Call>{{"run1/b.mf4", "run1_out/b"}}));
    EXPECT_NE(log.find(" F Error during stat of run1/a.mf4, exiting\n"), std::string::npos) << log;
}

TEST_F(InputWalkTest, TopLevelQueryErrorEndsTheRun) {
    temp.write("a.mf4");
    temp.write("b.mf4");
    FailingStatRoot failing(local_root_new(temp.str()), {"b.mf4"});
    context.input_root = &failing;
    recorder.results["a.mf4"] = 8;
    StderrCapture capture;
    EXPECT_EQ(convert_inputs(context, {"a.mf4", "b.mf4", "c.mf4"}, recorder.converter()), 129);
    const std::string log = capture.text();
    EXPECT_NE(log.find(" F Could not query b.mf4 for information\n"), std::string::npos) << log;
    EXPECT_EQ(recorder.calls.size(), 1u);  // c.mf4 is never visited
}

TEST_F(InputWalkTest, SymbolicLinkLoopIsSkippedOnce) {
    temp.write("run1/a.mf4");
    temp.write("run1/sub/b.mf4");
    fs::create_directory_symlink("..", temp.path() / "run1/sub/up");      // back into run1
    fs::create_directory_symlink("sub", temp.path() / "run1/alias");      // a second way to sub, no loop
    StderrCapture capture;
    const int result = walk_path(context, "run1/", "run1/", recorder.converter());
    const std::string log = capture.text();
    const std::vector<Call> expected = {
        {"run1/a.mf4", "run1/a"},
        {"run1/alias/b.mf4", "run1/alias/b"},
        {"run1/sub/b.mf4", "run1/sub/b"},
    };
    EXPECT_EQ(result, 0);
    EXPECT_EQ(recorder.calls, expected);
    // Reached once through sub/ and once through alias/.
    EXPECT_NE(log.find(" W Skipping run1/alias/up:"), std::string::npos) << log;
    EXPECT_NE(log.find(" W Skipping run1/sub/up:"), std::string::npos) << log;
}

TEST(MakeDirs, CreatesEachMissingLevel) {
    struct Case {
        std::string folder;
        bool ok;
        std::string must_exist;
    };
    const std::vector<Case> cases = {
        {"a/b/c/", true, "a/b/c"},
        {"a//d", true, "a/d"},
        {"", true, ""},
        {"file/x/", false, ""},   // a file is in the way
        {"pipe/", false, ""},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        temp.write("file");
        ASSERT_EQ(mkfifo((temp.path() / "pipe").c_str(), 0600), 0);
        auto root = local_root_new(temp.str());
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(make_dirs(*root, c.folder), c.ok) << c.folder;
        if (c.ok) {
            EXPECT_TRUE(fs::is_directory(temp.path() / c.must_exist)) << c.folder;
        }
        EXPECT_FALSE(fs::exists(temp.path() / "file" / "x"));
    }
}

TEST(MakeDirs, FailedCreationStops) {
    FileSystemRoot no_operations("/");  // every operation fails
    EXPECT_FALSE(make_dirs(no_operations, "a/"));
    EXPECT_TRUE(make_dirs(no_operations, ""));
}

}  // namespace
}  // namespace tracemill
