// Option parsing in process: what the command line fixes for a run.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "driver/run_context.h"
#include "driver_test_support.h"
#include "trc/trace_format.h"

namespace tracemill {
namespace {

using driver_test::StderrCapture;
using driver_test::TempFolder;

// Runs parse_command_line on "tracemill" followed by `args`, with the trace format's rows.
bool parse(RunContext& context, std::vector<std::string> args, int& status, TraceFormat* format = nullptr) {
    TraceFormat own;
    args.insert(args.begin(), "tracemill");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return parse_command_line(context, format ? *format : own, static_cast<int>(args.size()), argv.data(), status);
}

class ParseCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        input = temp.write("logs/a.MF4").string();
        temp.folder("logs/run1");
    }
    void TearDown() override { set_log_threshold(0); }

    TempFolder temp;
    std::string input;
};

TEST_F(ParseCommandLine, OptionsFillTheRunOptions) {
    struct Case {
        std::vector<std::string> flags;
        bool delete_converted;
        bool no_append_root;
        bool non_interactive;
        int64_t buffer_size;
        uint32_t trace_version;
        int32_t threshold;
    };
    const std::vector<Case> cases = {
        {{}, false, false, false, -1, 2, kInfo},
        {{"-d", "-X", "--non-interactive", "-b", "4096"}, true, true, true, 4096, 2, kInfo},
        {{"--delete-converted", "--no-append-root", "--buffer=0"}, true, true, false, 0, 2, kInfo},
        {{"-b", "-7", "-f", "VERSION1"}, false, false, false, -7, 1, kInfo},
        {{"--trace-format=Version2", "-i"}, false, false, false, -1, 2, kInfo},
        {{"--verbosity=0"}, false, false, false, -1, 2, kFatal},
        {{"--verbosity=1"}, false, false, false, -1, 2, kError},
        {{"--verbosity=2"}, false, false, false, -1, 2, kWarn},
        {{"--verbosity=3"}, false, false, false, -1, 2, kInfo},
        {{"--verbosity=4"}, false, false, false, -1, 2, kVerbose},
        {{"--verbosity=5"}, false, false, false, -1, 2, kVerbose},
        {{"-q"}, false, false, false, -1, 2, kError},
        {{"--quiet", "--verbosity=4"}, false, false, false, -1, 2, kVerbose},  // an explicit verbosity wins
    };
    for (const Case& c : cases) {
        auto context = std::make_unique<RunContext>();
        TraceFormat format;
        std::vector<std::string> args = c.flags;
        args.push_back(input);
        int status = 0;
        StderrCapture quiet;
        ASSERT_TRUE(parse(*context, args, status, &format)) << args[0];
        EXPECT_EQ(status, 0);
        EXPECT_EQ(context->options.delete_converted, c.delete_converted) << args[0];
        EXPECT_EQ(context->options.no_append_root, c.no_append_root) << args[0];
        EXPECT_EQ(context->options.non_interactive, c.non_interactive) << args[0];
        EXPECT_EQ(context->options.buffer_size, c.buffer_size) << args[0];
        EXPECT_EQ(format.version(), c.trace_version) << args[0];
        EXPECT_EQ(log_threshold, c.threshold) << args[0];
    }
}

TEST_F(ParseCommandLine, InputsBecomeRelativeToTheirRoot) {
    auto context = std::make_unique<RunContext>();
    int status = 0;
    StderrCapture quiet;
    ASSERT_TRUE(parse(*context, {input, temp.str() + "/logs/run1"}, status));
    EXPECT_EQ(context->input_root, temp.str() + "/logs/");
    EXPECT_EQ(context->inputs, (std::vector<std::string>{"a.MF4", "run1/"}));
    ASSERT_NE(context->input_fs, nullptr);
    EXPECT_EQ(context->output_fs(), context->input_fs.get());
}

TEST_F(ParseCommandLine, OutputDirectoryIsASeparateRoot) {
    TempFolder output;
    auto context = std::make_unique<RunContext>();
    int status = 0;
    StderrCapture quiet;
    ASSERT_TRUE(parse(*context, {"-O", output.str(), input}, status));
    ASSERT_NE(context->output_fs(), nullptr);
    EXPECT_NE(context->output_fs(), context->input_fs.get());
    EXPECT_EQ(context->output_fs()->root(), output.str() + "/");
}

TEST(TraceFormat, VersionNamesInAnyCase) {
    struct Case {
        const char* value;
        uint32_t version;
    };
    const std::vector<Case> cases = {
        {"version1", 1}, {"VERSION1", 1}, {"Version2", 2}, {"version2", 2},
        {"version3", 0}, {"version", 0},  {"1", 0},        {"", 0}, {"version1 ", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_trace_format(c.value), c.version) << c.value;
}

}  // namespace
}  // namespace tracemill
