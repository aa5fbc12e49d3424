// Several formats in one pass: every record reaches every sink, and the
// outcome is what they did together.
#include "driver/fan_out_sink.h"

#include <gtest/gtest.h>

namespace tracemill {
namespace {

// Counts its calls (1 per record, 1000 per end) and reports a fixed outcome.
class ScriptedSink final : public OutputSink {
public:
    ScriptedSink(FileOutcome outcome, bool fail_record = false) : outcome_(std::move(outcome)), fail_(fail_record) {}
    bool record(const BusRecord&) override { return ++calls, !fail_; }
    bool new_file(const FileInfo&, bool) override { return true; }
    bool end_file(const FileInfo&) override { return calls += 1000, true; }
    FileOutcome outcome() const override { return outcome_; }
    int calls = 0;

private:
    FileOutcome outcome_;
    bool fail_;
};

FanOutSink fan_out(std::vector<ScriptedSink*> sinks) {
    std::vector<std::unique_ptr<OutputSink>> owned(sinks.begin(), sinks.end());
    return FanOutSink(std::move(owned));
}

TEST(FanOutSink, OutcomeIsWhatTheSinksDidTogether) {
    //                              lin linerr err fd    can fd remote
    FanOutSink all = fan_out({new ScriptedSink({{5, 7, 4, 2}, {10, 0, 3}, "a_CAN.trc", 100, true}),
                              new ScriptedSink({{5, 7, 0, 0}, {10, 2, 3}, "a.log", 50, true}),
                              new ScriptedSink({{0, 3, 1, 0}, {0, 0, 0}, "", 0, false})});
    const FileOutcome o = all.outcome();
    EXPECT_EQ(o.passed_over.total(), 3u);
    EXPECT_EQ(o.passed_over.lin_errors, 3u);
    EXPECT_EQ(o.written.can_frames, 10u);
    EXPECT_EQ(o.written.can_fd_frames, 2u);
    EXPECT_EQ(o.written.can_remote_frames, 3u);
    EXPECT_EQ(o.outputs, (std::vector<std::string>{"a_CAN.trc", "a.log"}));
    EXPECT_EQ(o.output_path, "a_CAN.trc");
    EXPECT_EQ(o.bytes_written, 150u);
    EXPECT_FALSE(o.durable);
}

TEST(FanOutSink, EveryRecordReachesEverySinkAndOneFailureFailsTheCall) {
    auto* failing = new ScriptedSink({}, true);
    auto* working = new ScriptedSink({});
    FanOutSink all = fan_out({failing, working});
    ASSERT_TRUE(all.new_file(FileInfo{}, false));
    EXPECT_FALSE(all.record(BusRecord{}));
    EXPECT_TRUE(all.end_file(FileInfo{}));
    EXPECT_EQ(failing->calls, 1001);
    EXPECT_EQ(working->calls, 1001);
}

}  // namespace
}  // namespace tracemill
