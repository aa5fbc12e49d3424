// The trace writer as an output sink: file naming, header timing, numbering,
// which records are written and which passed over, files without frame lines,
// permissions, durability, failures.
#include "trc/trc_writer.h"

#include <gtest/gtest.h>

#include "common/log.h"
#include "driver/output_file.h"

#include <vector>

#include "trc/memory_output_root.h"
#include "trc/trc_line_format.h"

namespace tracemill {
namespace {

using testing::MemoryOutputRoot;

BusRecord can_record(double timestamp, uint32_t id, CanDetails can, std::vector<uint8_t> data = {}) {
    BusRecord record;
    record.timestamp = timestamp;
    record.bus_channel = 1;
    record.id = id;
    record.data = std::move(data);
    record.kind = can.rtr ? BusRecordKind::CanRemoteFrame : BusRecordKind::CanDataFrame;
    record.details.can = can;
    return record;
}

BusRecord other_record(double timestamp, BusRecordKind kind) {
    BusRecord record;
    record.timestamp = timestamp;
    record.kind = kind;
    record.data = {1, 2};
    return record;
}

FileInfo file_info(const char* stem) {
    FileInfo info;
    info.output_stem = stem;
    return info;
}

//                        ide dir edl esi brs rtr dlc
constexpr CanDetails kClassic{0, 0, 0, 0, 0, 0, 2};
constexpr CanDetails kRemote{1, 1, 0, 0, 0, 1, 8};
constexpr CanDetails kFd{0, 0, 1, 0, 1, 0, 12};

class TrcWriterTest : public ::testing::Test {
protected:
    std::unique_ptr<OutputSink> writer(uint32_t version, bool durable = false) {
        auto sink = trc_writer_new(&root, version, durable);
        EXPECT_NE(sink, nullptr);
        return sink;
    }

    // Runs one file through the sink; false when any call fails.
    bool convert(OutputSink& sink, const char* stem, const std::vector<BusRecord>& records, bool encrypted = false) {
        FileInfo info = file_info(stem);
        info.encrypted = encrypted;
        bool ok = sink.new_file(info, false);
        for (const BusRecord& r : records) ok = ok && sink.record(r);
        return sink.end_file(info) && ok;
    }

    MemoryOutputRoot root;
};

TEST_F(TrcWriterTest, OnlyVersionsOneAndTwoExist) {
    EXPECT_EQ(trc_writer_new(&root, 0, false), nullptr);
    EXPECT_EQ(trc_writer_new(&root, 3, false), nullptr);
    EXPECT_EQ(trc_writer_new(nullptr, 2, false), nullptr);
}

TEST_F(TrcWriterTest, Version21FileHoldsHeaderAndCanFramesOnly) {
    auto sink = writer(kTraceVersion21);
    set_log_threshold(kInfo);
    ::testing::internal::CaptureStderr();
    FileInfo info = file_info("run1_out/a");
    info.input_path = "run1/a.mf4";
    ASSERT_TRUE(sink->new_file(info, false));
    for (const BusRecord& r : {other_record(1'699'999'999.0, BusRecordKind::LinFrame),
                               can_record(1'700'000'000.25, 0x123, kClassic, {0xDE, 0xAD}),
                               other_record(1'700'000'000.26, BusRecordKind::CanErrorFrame),
                               can_record(1'700'000'000.2625, 0x18FEF100, kRemote),
                               other_record(1'700'000'000.27, BusRecordKind::LinSyncError),
                               can_record(1'700'000'001.25, 0x456, kFd, {1, 2, 3})})
        ASSERT_TRUE(sink->record(r));
    ASSERT_TRUE(sink->end_file(info));
    const std::string log = ::testing::internal::GetCapturedStderr();
    set_log_threshold(0);
    EXPECT_EQ(root.files["run1_out/a_CAN.trc"],
              ";$FILEVERSION=2.1\n"
              ";$STARTTIME=45244.9259288194\n"
              ";$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0123 Rx 2    DE AD\n"
              "      2        12.500 RR 1 18FEF100 Tx 8    \n"
              "      3      1000.000 FB 1     0456 Rx 12   01 02 03\n");
    EXPECT_EQ(root.created, std::vector<std::string>{"run1_out/a_CAN.trc"});
    EXPECT_EQ(root.modes, std::vector<uint32_t>{kSharedFileMode});
    EXPECT_EQ(root.staged_open, 0);
    const PassedOverRecords passed = sink->outcome().passed_over;
    EXPECT_EQ(passed.lin_frames, 1u);
    EXPECT_EQ(passed.lin_errors, 1u);
    EXPECT_EQ(passed.can_error_frames, 1u);
    EXPECT_EQ(passed.can_fd_frames, 0u);
    EXPECT_NE(log.find("run1/a.mf4: 1 LIN frame(s), 1 LIN error(s), 1 CAN error frame(s) not written: "
                       "the trace format has no notation for them"),
              std::string::npos)
        << log;
}

TEST_F(TrcWriterTest, Version11LeavesFdOutButTakesItsTimeBase) {
    auto sink = writer(kTraceVersion11);
    ASSERT_TRUE(convert(*sink, "b",
                        {can_record(1'700'000'000.25, 0x10, kFd, {9}),
                         can_record(1'700'000'000.2625, 0x18FEF100, kRemote),
                         can_record(1'700'000'000.5, 0x7, kClassic, {0x0A, 0xB0})}));
    EXPECT_EQ(root.files["b_CAN.trc"],
              ";$FILEVERSION=1.1\n"
              ";$STARTTIME=45244.9259288194\n"
              "     1)        12.5 Tx    18FEF100 8  RTR\n"
              "     2)       250.0 Rx        0007 2  0A B0\n");
    EXPECT_EQ(sink->outcome().passed_over.can_fd_frames, 1u);
    EXPECT_EQ(sink->outcome().passed_over.total(), 1u);
}

// Files that end without a single frame line are never created, and an
// earlier trace of that name stays as it was.
TEST_F(TrcWriterTest, FilesWithoutFrameLinesAreNotCreated) {
    struct Case {
        const char* name;
        uint32_t version;
        std::vector<BusRecord> records;
        uint64_t passed_over;
    };
    const std::vector<Case> cases = {
        {"no records", kTraceVersion21, {}, 0},
        {"errors and LIN only, 2.1", kTraceVersion21,
         {other_record(1, BusRecordKind::CanErrorFrame), other_record(2, BusRecordKind::LinFrame),
          other_record(3, BusRecordKind::LinChecksumError), other_record(4, BusRecordKind::LinSyncError)},
         4},
        {"errors and LIN only, 1.1", kTraceVersion11,
         {other_record(1, BusRecordKind::CanErrorFrame), other_record(2, BusRecordKind::LinReceiveError)}, 2},
        {"FD only, 1.1", kTraceVersion11, {can_record(1, 0x1, kFd, {1}), can_record(2, 0x2, kFd, {2})}, 2},
    };
    for (const Case& c : cases) {
        MemoryOutputRoot local;
        local.files["x/y_CAN.trc"] = "earlier run";
        auto sink = trc_writer_new(&local, c.version, true);
        EXPECT_TRUE(convert(*sink, "x/y", c.records)) << c.name;
        EXPECT_EQ(local.files["x/y_CAN.trc"], "earlier run") << c.name;
        EXPECT_TRUE(local.created.empty()) << c.name;
        EXPECT_EQ(sink->outcome().passed_over.total(), c.passed_over) << c.name;
        EXPECT_TRUE(sink->outcome().durable) << c.name << ": nothing to publish";
    }
}

TEST_F(TrcWriterTest, EveryFileStartsNumberingAndTimeBaseAfresh) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "first", {can_record(100, 1, kClassic), can_record(101, 2, kClassic),
                                         other_record(102, BusRecordKind::LinFrame)}));
    // A continuation still gets a file of its own, and counts of its own.
    FileInfo second = file_info("second");
    ASSERT_TRUE(sink->new_file(second, true));
    ASSERT_TRUE(sink->record(can_record(200.5, 3, kClassic)));
    ASSERT_TRUE(sink->end_file(second));
    EXPECT_EQ(root.files["second_CAN.trc"],
              ";$FILEVERSION=2.1\n;$STARTTIME=25569.0023206019\n;$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0003 Rx 2    \n");
    EXPECT_TRUE(root.exists("first_CAN.trc"));
    EXPECT_EQ(sink->outcome().passed_over.total(), 0u);
}

// Permissions and durability of what is published.
TEST_F(TrcWriterTest, EncryptedInputsGetPrivateFilesAndDurabilityIsReported) {
    for (bool durable : {false, true}) {
        MemoryOutputRoot local;
        auto sink = trc_writer_new(&local, kTraceVersion21, durable);
        ASSERT_TRUE(convert(*sink, "plain", {can_record(1, 1, kClassic)}));
        EXPECT_EQ(sink->outcome().durable, durable);
        ASSERT_TRUE(convert(*sink, "secret", {can_record(1, 1, kClassic)}, true));
        EXPECT_EQ(local.modes, (std::vector<uint32_t>{kSharedFileMode, kPrivateFileMode}));
        EXPECT_EQ(local.commits_durable, (std::vector<bool>{durable, durable}));
    }
}

// Whatever fails, the final name holds either the earlier file or a complete
// new one, no staged file stays behind, and the writer goes on with the next file.
TEST_F(TrcWriterTest, FailuresLeaveNoFileUnderTheFinalName) {
    struct Case {
        const char* name;
        bool fail_create;
        bool fail_commit;
        int64_t budget;
        size_t records;
        const char* message;
    };
    // Lines of several write buffers: the bytes go to the file before the end,
    // and a failed write is known while the lines are still coming.
    constexpr size_t kMidFile = 3 * OutputFile::kBufferSize / 40;
    const std::vector<Case> cases = {
        {"create at the end", true, false, -1, 3, "Could not open output file for CAN: w_CAN.trc"},
        {"create mid-file", true, false, -1, kMidFile, "Could not write CAN data"},
        {"short write at the end", false, false, 80, 3, "Could not close CAN file"},
        {"short write mid-file", false, false, 80, kMidFile, "Could not write CAN data"},
        {"commit", false, true, -1, 3, "Could not close CAN file"},
    };
    set_log_threshold(kError);
    for (const Case& c : cases) {
        MemoryOutputRoot local;
        local.files["w_CAN.trc"] = "earlier run";
        local.fail_create = c.fail_create;
        local.fail_commit = c.fail_commit;
        local.write_budget = c.budget;
        auto sink = trc_writer_new(&local, kTraceVersion21, true);
        std::vector<BusRecord> records;
        for (size_t i = 0; i < c.records; ++i) records.push_back(can_record(5 + i, 1, kClassic, {1, 2}));
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(convert(*sink, "w", records)) << c.name;
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find(c.message), std::string::npos) << c.name << ": " << log;
        EXPECT_EQ(local.files["w_CAN.trc"], "earlier run") << c.name;
        EXPECT_EQ(local.staged_open, 0) << c.name;
        EXPECT_FALSE(sink->outcome().durable) << c.name;

        local.fail_create = local.fail_commit = false;
        local.write_budget = -1;
        ASSERT_TRUE(convert(*sink, "next", {can_record(1, 1, kClassic)})) << c.name;
        EXPECT_NE(local.files["next_CAN.trc"].find("      1         0.000 DT 1     0001 Rx 2    \n"),
                  std::string::npos)
            << c.name;
    }
    set_log_threshold(0);
}

TEST_F(TrcWriterTest, DiscardFailureIsReported) {
    auto sink = writer(kTraceVersion21);
    root.write_budget = 80;
    root.fail_discard = true;
    std::vector<BusRecord> records(3000, can_record(1, 1, kClassic, {1}));
    set_log_threshold(kError);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(convert(*sink, "d", records));
    const std::string log = ::testing::internal::GetCapturedStderr();
    set_log_threshold(0);
    EXPECT_NE(log.find("Could not remove CAN file"), std::string::npos) << log;
    EXPECT_FALSE(root.exists("d_CAN.trc"));
}

// a.mf4 and a.MF4 in one folder share the trace path a_CAN.trc: the later
// file must not overwrite the earlier one's frames.
TEST_F(TrcWriterTest, KeptTraceFileIsNotOverwrittenInTheSameRun) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "a", {can_record(1, 0x1, kClassic)}));
    const std::string first = root.files["a_CAN.trc"];
    EXPECT_FALSE(convert(*sink, "a", {can_record(2, 0x2, kClassic)}));
    EXPECT_EQ(root.files["a_CAN.trc"], first);
    EXPECT_EQ(root.created.size(), 1u);

    // A path that was left out (no frame lines) is free.
    ASSERT_TRUE(convert(*sink, "b", {other_record(1, BusRecordKind::LinFrame)}));
    ASSERT_TRUE(convert(*sink, "b", {can_record(3, 0x3, kClassic)}));
    EXPECT_TRUE(root.exists("b_CAN.trc"));
}

}  // namespace
}  // namespace tracemill
