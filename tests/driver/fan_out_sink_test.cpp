// Several formats in one pass: every record reaches every sink, the outcome is
// what they did together, and -F names are checked and kept in list order.
#include "driver/fan_out_sink.h"

#include <gtest/gtest.h>

#include "driver/format_choice.h"

namespace tracemill {
namespace {

// A sink that counts calls and reports a fixed outcome; `fail_record` makes record() fail.
class ScriptedSink final : public OutputSink {
public:
    ScriptedSink(FileOutcome outcome, bool fail_record = false, int* records = nullptr)
        : outcome_(std::move(outcome)), fail_record_(fail_record), records_(records) {}
    bool record(const BusRecord&) override {
        if (records_) ++*records_;
        return !fail_record_;
    }
    bool new_file(const FileInfo&, bool) override { return true; }
    bool end_file(const FileInfo&) override {
        if (records_) *records_ += 1000;  // marks the end
        return true;
    }
    FileOutcome outcome() const override { return outcome_; }

private:
    FileOutcome outcome_;
    bool fail_record_;
    int* records_;
};

FileOutcome outcome(PassedOverRecords passed, WrittenFrames written, const char* path, uint64_t bytes, bool durable) {
    FileOutcome o{passed, written, path, bytes, durable};
    return o;
}

TEST(FanOutSink, OutcomeIsWhatTheSinksDidTogether) {
    std::vector<std::unique_ptr<OutputSink>> sinks;
    //                                lin  linerr err fd     can fd remote
    sinks.push_back(std::make_unique<ScriptedSink>(outcome({5, 7, 4, 2}, {10, 0, 3}, "a_CAN.trc", 100, true)));
    sinks.push_back(std::make_unique<ScriptedSink>(outcome({5, 7, 0, 0}, {10, 2, 3}, "a.log", 50, true)));
    sinks.push_back(std::make_unique<ScriptedSink>(outcome({0, 3, 1, 0}, {0, 0, 0}, "", 0, false)));
    FanOutSink fan_out(std::move(sinks));
    const FileOutcome all = fan_out.outcome();
    EXPECT_EQ(all.passed_over.lin_frames, 0u);
    EXPECT_EQ(all.passed_over.lin_errors, 3u);
    EXPECT_EQ(all.passed_over.can_error_frames, 0u);
    EXPECT_EQ(all.passed_over.can_fd_frames, 0u);
    EXPECT_EQ(all.written.can_frames, 10u);
    EXPECT_EQ(all.written.can_fd_frames, 2u);
    EXPECT_EQ(all.written.can_remote_frames, 3u);
    EXPECT_EQ(all.outputs, (std::vector<std::string>{"a_CAN.trc", "a.log"}));
    EXPECT_EQ(all.output_path, "a_CAN.trc");
    EXPECT_EQ(all.bytes_written, 150u);
    EXPECT_FALSE(all.durable);
}

TEST(FanOutSink, EveryRecordReachesEverySinkAndOneFailureFailsTheCall) {
    int first = 0, second = 0;
    std::vector<std::unique_ptr<OutputSink>> sinks;
    sinks.push_back(std::make_unique<ScriptedSink>(FileOutcome{}, true, &first));
    sinks.push_back(std::make_unique<ScriptedSink>(FileOutcome{}, false, &second));
    FanOutSink fan_out(std::move(sinks));
    const FileInfo info;
    ASSERT_TRUE(fan_out.new_file(info, false));
    EXPECT_FALSE(fan_out.record(BusRecord{}));
    EXPECT_TRUE(fan_out.end_file(info));
    EXPECT_EQ(first, 1001);
    EXPECT_EQ(second, 1001);
}

TEST(FormatChoice, NamesAreCheckedAndKeptInListOrder) {
    struct NoFormat final : OutputFormat {
        bool add_options(std::vector<void*>&) override { return true; }
        std::unique_ptr<OutputSink> new_sink(FileSystemRoot&, bool) override { return nullptr; }
    } a, b, c;
    const NamedFormat table[] = {{"trc", &a}, {"log", &b}, {"csv", &c}};
    struct Case {
        const char* list;
        std::vector<size_t> chosen;  // empty: rejected
        FormatChoice::Rejection rejection;
        const char* item;
    };
    using R = FormatChoice::Rejection;
    const Case cases[] = {
        {"trc", {0}, R::None, ""},
        {"csv,trc", {2, 0}, R::None, ""},
        {"log,csv,trc", {1, 2, 0}, R::None, ""},
        {"trc,TRC", {}, R::UnknownName, "TRC"},
        {"log,log", {}, R::NamedTwice, "log"},
        {"trc,,csv", {}, R::EmptyItem, "trc,,csv"},
        {",", {}, R::EmptyItem, ","},
    };
    for (const Case& c : cases) {
        FormatChoice choice(table);
        EXPECT_EQ(choice.chosen(), std::vector<size_t>{0}) << "the first is the default";
        EXPECT_EQ(choice.choose(c.list), !c.chosen.empty()) << c.list;
        EXPECT_EQ(choice.rejected(), c.rejection) << c.list;
        if (c.chosen.empty()) EXPECT_EQ(choice.rejected_item(), c.item) << c.list;
        else EXPECT_EQ(choice.chosen(), c.chosen) << c.list;
    }
    EXPECT_EQ(FormatChoice(table).shown_values(), "{trc,log,csv}");
}

}  // namespace
}  // namespace tracemill
