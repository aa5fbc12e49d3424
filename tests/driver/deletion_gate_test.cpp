// The -d gate: reasons from the conversion and from the file system keep the
// input and are named in one warning; without any the input goes.
#include "driver/deletion_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "driver_test_support.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;
namespace fs = std::filesystem;

TEST(DeletionGate, RemovesOnlyWithoutReasonAndNamesEveryReason) {
    struct Case {
        const char* name;
        std::vector<std::string> reasons;  // added by earlier rules
        bool grow;                         // the input changes after it was opened
        bool removed;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"no reason", {}, false, true, ""},
        {"one rule", {"its trace is not durable"}, false, false,
         " W Keeping input file run/\\x1B.mf4: its trace is not durable\n"},
        {"two rules and a changed file", {"a", "b"}, true, false, " W Keeping input file run/\\x1B.mf4: a; b\n"},
        {"changed file alone", {}, true, false,
         " W Keeping input file run/\\x1B.mf4: it changed during the conversion\n"},
    };
    set_log_threshold(0);
    for (const Case& c : cases) {
        TempFolder temp;
        const fs::path input = temp.write("run/\x1B.mf4", "log");
        auto root = local_root_new(temp.str());
        OpenedInput opened = root->open_input("run/\x1B.mf4");
        ASSERT_NE(opened.stream, nullptr) << c.name;
        if (c.grow) temp.write("run/\x1B.mf4", "longer log");
        DeletionGate gate;
        for (const std::string& reason : c.reasons) gate.keep(reason);
        StderrCapture capture;
        gate.remove_input(*root, "run/\x1B.mf4", opened.identity);
        const std::string log = capture.text();
        EXPECT_EQ(fs::exists(input), !c.removed) << c.name;
        if (c.log.empty()) {
            EXPECT_EQ(log, "") << c.name;
        } else {
            EXPECT_NE(log.find(c.log), std::string::npos) << c.name << ": " << log;
        }
    }
}

}  // namespace
}  // namespace tracemill
