// Path normalisation, the input root and the extension and folder views.
#include "driver/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "driver/run_context.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;
using driver_test::WorkingFolder;

TEST(NormalizePath, AbsoluteRelativeAndDriveForms) {
    TempFolder temp;
    temp.write("a.MF4");
    temp.folder("run1");
    const std::string t = temp.str();
    std::string backslashed = t + "/run1\\";
    for (char& c : backslashed)
        if (c == '/') c = '\\';

    struct Case {
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {t + "/a.MF4", t + "/a.MF4"},
        {t + "/run1", t + "/run1/"},            // folders end in "/"
        {t + "/run1/", t + "/run1/"},
        {t + "/a.MF4/", t + "/a.MF4"},          // files do not
        {t + "//run1", t + "/run1/"},
        {t + "/missing.MF4", t + "/missing.MF4"},
        {backslashed, t + "/run1/"},
        {"a.MF4", t + "/a.MF4"},                // relative: joined with the working folder
        {"run1", t + "/run1/"},
        {"run1\\", t + "/run1/"},
        {"./a.MF4", t + "/./a.MF4"},
        {"x///y", t + "/x//y"},                 // one pass: three slashes become two
        {"..", ""},                             // the one relative path that is not joined
        {"../x", t + "/../x"},
        {"1:", t + "/1:"},                      // not a drive letter
        {"C:", "C:/"},                          // a bare drive is its root
        {"d:\\logs\\a.MF4", "d:/logs/a.MF4"},   // drive paths are never joined
        {"D:/logs/run1", "D:/logs/run1"},
    };
    WorkingFolder cwd(temp.path());
    for (const Case& c : cases) {
        std::string path = c.input;
        normalize_path(path);
        EXPECT_EQ(path, c.expected) << "input: " << c.input;
    }
}

TEST(NormalizePath, StatFailureIsLoggedAndThePathKept) {
    set_log_threshold(0);
    const std::string path = "/" + std::string(300, 'n') + "/a.MF4";  // name too long for the platform
    std::string normalized = path;
    StderrCapture capture;
    normalize_path(normalized);
    const std::string log = capture.text();
    EXPECT_EQ(normalized, path);
    EXPECT_NE(log.find(" E Could not stat path " + path + "\n"), std::string::npos) << log;
}

TEST(PathViews, ExtensionLogFileAndParentFolder) {
    struct Case {
        std::string path;
        std::string extension;
        bool log_file;
        std::string parent;
    };
    const std::vector<Case> cases = {
        {"a.MF4", "MF4", true, ""},
        {"run1/sub/b.mfe", "mfe", true, "run1/sub/"},
        {"x.MfC", "MfC", true, ""},
        {"z.mfm", "mfm", true, ""},
        {"archive.tar.mf4", "mf4", true, ""},
        {"notes.txt", "txt", false, ""},
        {"MF4", "", false, ""},              // no "." means no extension
        {"run.mf4/MF4", "", false, "run.mf4/"},
        {"a.", "", false, ""},
        {"a.mf", "mf", false, ""},
        {"a.mf4x", "mf4x", false, ""},
        {"a.mf5", "mf5", false, ""},
        {"run1/", "", false, "run1/"},
        {"", "", false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_extension(c.path), c.extension) << c.path;
        EXPECT_EQ(is_log_file(c.path), c.log_file) << c.path;
        EXPECT_EQ(parent_folder(c.path), c.parent) << c.path;
    }
}

TEST(FindInputRoot, CommonParentFolderOrStatus132) {
    struct Case {
        std::vector<std::string> inputs;
        bool found;
        std::string root;
        std::vector<std::string> relative;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"/logs/a.MF4", "/logs/run1/"}, true, "/logs/", {"a.MF4", "run1/"}, ""},
        {{"/logs/run1/"}, true, "/logs/", {"run1/"}, ""},
        {{"/logs/a.MF4", "/logs/a.MF4"}, true, "/logs/", {"a.MF4", "a.MF4"}, ""},
        {{"D:/logs/a.MF4"}, true, "D:/logs/", {"a.MF4"}, ""},
        {{"/srv//x/a.mf4"}, true, "/srv//x/", {"a.mf4"}, ""},
        {{"/logs/a.MF4", "/logs/run1/b.MF4"}, false, "", {}, "F No common root detected for all inputs\n"},
        {{"/a.MF4"}, false, "", {}, "F Could not find root for /a.MF4\n"},
        {{"D:/"}, false, "", {}, "F Could not find root for D:/\n"},
        {{""}, false, "", {}, "F Could not find root for \n"},
        {{"/logs/a.MF4", "a.MF4"}, false, "", {}, "F Could not find root for a.MF4\n"},
        {{}, false, "", {}, ""},
    };
    set_log_threshold(0);
    for (const Case& c : cases) {
        RunContext context;
        context.inputs = c.inputs;
        int status = 0;
        StderrCapture capture;
        const bool found = find_input_root(context, status);
        const std::string log = capture.text();
        ASSERT_EQ(found, c.found) << c.inputs.size() << " inputs, first " << (c.inputs.empty() ? "" : c.inputs[0]);
        if (c.found) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(context.input_root, c.root);
            EXPECT_EQ(context.inputs, c.relative);
            EXPECT_EQ(log, "");
        } else {
            EXPECT_EQ(status, 132);
            if (c.message.empty()) {
                EXPECT_EQ(log, "");
            } else {
                EXPECT_NE(log.find(c.message), std::string::npos) << log;
            }
        }
    }
}

}  // namespace
}  // namespace tracemill

namespace tracemill {
namespace {

TEST(FindListRoot, BaseFolderOrLongestCommonFolder) {
    struct Case {
        std::vector<std::string> inputs;
        std::string base;
        std::string root;  // empty: refused with 132
        std::vector<std::string> relative;
    };
    const std::vector<Case> cases = {
        {{"/logs/a/x.MF4", "/logs/b/c/y.MF4"}, "", "/logs/", {"a/x.MF4", "b/c/y.MF4"}},
        {{"/logs/run1/", "/logs/run1/x.MF4"}, "", "/logs/", {"run1/", "run1/x.MF4"}},
        {{"/logs/ab/x.MF4", "/logs/a/y.MF4"}, "", "/logs/", {"ab/x.MF4", "a/y.MF4"}},
        {{"/a.MF4", "/b/c.MF4"}, "", "/", {"a.MF4", "b/c.MF4"}},
        {{"/logs/./a/x.MF4", "/logs/b/../c/"}, "/logs/.", "/logs/", {"a/x.MF4", "c/"}},
        {{}, "/logs", "/logs/", {}},
        {{"/logs/ab/y.MF4"}, "/logs/a/", "", {}},
        {{"/logs/"}, "/logs/", "", {}},  // the base itself
        {{"/"}, "", "", {}},
    };
    set_log_threshold(0);
    for (const Case& c : cases) {
        RunContext context;
        context.inputs = c.inputs;
        int status = 0;
        StderrCapture capture;
        EXPECT_EQ(find_list_root(context, c.base, status), !c.root.empty()) << c.base;
        const std::string log = capture.text();
        EXPECT_EQ(status, c.root.empty() ? 132 : 0) << c.base;
        EXPECT_EQ(log.empty(), !c.root.empty()) << log;
        if (!c.root.empty()) {
            EXPECT_EQ(context.input_root, c.root);
            EXPECT_EQ(context.inputs, c.relative);
        }
    }
}

}  // namespace
}  // namespace tracemill
