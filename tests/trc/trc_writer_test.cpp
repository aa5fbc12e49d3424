// The trace writer as an output sink: file naming, header timing, numbering,
// which records are written, removal of files without frame lines, failures.
#include "trc/trc_writer.h"

#include <gtest/gtest.h>

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
    std::unique_ptr<OutputSink> writer(uint32_t version) {
        auto sink = trc_writer_new(&root, version);
        EXPECT_NE(sink, nullptr);
        return sink;
    }

    // Runs one file through the sink; false when any call fails.
    bool convert(OutputSink& sink, const char* stem, const std::vector<BusRecord>& records) {
        FileInfo info = file_info(stem);
        bool ok = sink.new_file(info, false);
        for (const BusRecord& r : records) ok = ok && sink.record(r);
        return sink.end_file(info) && ok;
    }

    MemoryOutputRoot root;
};

TEST_F(TrcWriterTest, OnlyVersionsOneAndTwoExist) {
    EXPECT_EQ(trc_writer_new(&root, 0), nullptr);
    EXPECT_EQ(trc_writer_new(&root, 3), nullptr);
    EXPECT_EQ(trc_writer_new(nullptr, 2), nullptr);
}

TEST_F(TrcWriterTest, Version21FileHoldsHeaderAndCanFramesOnly) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "run1_out/a",
                        {other_record(1'699'999'999.0, BusRecordKind::LinFrame),
                         can_record(1'700'000'000.25, 0x123, kClassic, {0xDE, 0xAD}),
                         other_record(1'700'000'000.26, BusRecordKind::CanErrorFrame),
                         can_record(1'700'000'000.2625, 0x18FEF100, kRemote),
                         can_record(1'700'000'001.25, 0x456, kFd, {1, 2, 3})}));
    ASSERT_TRUE(root.exists("run1_out/a_CAN.trc"));
    EXPECT_EQ(root.files["run1_out/a_CAN.trc"],
              ";$FILEVERSION=2.1\n"
              ";$STARTTIME=45244.9259288194\n"
              ";$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0123 Rx 2    DE AD\n"
              "      2        12.500 RR 1 18FEF100 Tx 8    \n"
              "      3      1000.000 FB 1     0456 Rx 12   01 02 03\n");
    EXPECT_EQ(root.open_flags, std::vector<int32_t>{6});
    EXPECT_TRUE(root.removed.empty());
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
}

// Files that end without a single frame line are removed again.
TEST_F(TrcWriterTest, FilesWithoutFrameLinesAreRemoved) {
    struct Case {
        const char* name;
        uint32_t version;
        std::vector<BusRecord> records;
    };
    const std::vector<Case> cases = {
        {"no records", kTraceVersion21, {}},
        {"errors and LIN only, 2.1", kTraceVersion21,
         {other_record(1, BusRecordKind::CanErrorFrame), other_record(2, BusRecordKind::LinFrame),
          other_record(3, BusRecordKind::LinChecksumError), other_record(4, BusRecordKind::LinSyncError)}},
        {"errors and LIN only, 1.1", kTraceVersion11,
         {other_record(1, BusRecordKind::CanErrorFrame), other_record(2, BusRecordKind::LinReceiveError)}},
        {"FD only, 1.1", kTraceVersion11, {can_record(1, 0x1, kFd, {1}), can_record(2, 0x2, kFd, {2})}},
    };
    for (const Case& c : cases) {
        MemoryOutputRoot local;
        auto sink = trc_writer_new(&local, c.version);
        FileInfo info = file_info("x/y");
        ASSERT_TRUE(sink->new_file(info, false)) << c.name;
        ASSERT_TRUE(local.exists("x/y_CAN.trc")) << c.name;
        for (const BusRecord& r : c.records) ASSERT_TRUE(sink->record(r)) << c.name;
        EXPECT_TRUE(sink->end_file(info)) << c.name;
        EXPECT_FALSE(local.exists("x/y_CAN.trc")) << c.name;
        EXPECT_EQ(local.removed, std::vector<std::string>{"x/y_CAN.trc"}) << c.name;
    }
}

TEST_F(TrcWriterTest, EveryFileStartsNumberingAndTimeBaseAfresh) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "first", {can_record(100, 1, kClassic), can_record(101, 2, kClassic)}));
    // A continuation still gets a file of its own.
    FileInfo second = file_info("second");
    ASSERT_TRUE(sink->new_file(second, true));
    ASSERT_TRUE(sink->record(can_record(200.5, 3, kClassic)));
    ASSERT_TRUE(sink->end_file(second));
    EXPECT_EQ(root.files["second_CAN.trc"],
              ";$FILEVERSION=2.1\n;$STARTTIME=25569.0023206019\n;$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0003 Rx 2    \n");
    EXPECT_TRUE(root.exists("first_CAN.trc"));
}

// A failed open after a converted file must not inherit that file's state:
// the earlier trace file stays, nothing of anyone else's is removed.
TEST_F(TrcWriterTest, FailedOpenAfterSuccessfulFileRemovesNothing) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "good", {can_record(1, 1, kClassic)}));
    root.files["blocked_CAN.trc"] = "not ours";
    root.fail_open = true;
    FileInfo blocked = file_info("blocked");
    EXPECT_FALSE(sink->new_file(blocked, false));
    EXPECT_TRUE(sink->end_file(blocked));
    EXPECT_TRUE(root.removed.empty());
    EXPECT_EQ(root.files["blocked_CAN.trc"], "not ours");
    EXPECT_TRUE(root.exists("good_CAN.trc"));

    // The next file that opens works normally and starts at message 1.
    root.fail_open = false;
    ASSERT_TRUE(convert(*sink, "next", {other_record(0, BusRecordKind::LinFrame)}));
    EXPECT_FALSE(root.exists("next_CAN.trc"));
}

TEST_F(TrcWriterTest, ShortWritesFailTheRecord) {
    struct Case {
        const char* name;
        uint32_t version;
        int64_t budget;
        bool file_stays;  // a started frame line leaves the partial file to look at
    };
    const std::vector<Case> cases = {
        {"header, 2.1", kTraceVersion21, 10, false},
        {"header, 1.1", kTraceVersion11, 10, false},
        {"frame line, 2.1", kTraceVersion21, 80, true},
        {"frame line, 1.1", kTraceVersion11, 50, true},
    };
    for (const Case& c : cases) {
        MemoryOutputRoot local;
        local.write_budget = c.budget;
        auto sink = trc_writer_new(&local, c.version);
        FileInfo info = file_info("w");
        ASSERT_TRUE(sink->new_file(info, false)) << c.name;
        EXPECT_FALSE(sink->record(can_record(5, 1, kClassic, {1, 2}))) << c.name;
        EXPECT_TRUE(sink->end_file(info)) << c.name;
        EXPECT_EQ(local.exists("w_CAN.trc"), c.file_stays) << c.name;
        EXPECT_EQ(local.files["w_CAN.trc"].size(), c.file_stays ? static_cast<size_t>(c.budget) : 0u) << c.name;
    }
}

TEST_F(TrcWriterTest, CloseAndRemoveFailuresAreReported) {
    auto sink = writer(kTraceVersion21);
    root.fail_close = true;
    EXPECT_FALSE(convert(*sink, "kept", {can_record(1, 1, kClassic)}));
    EXPECT_TRUE(root.exists("kept_CAN.trc"));

    root.fail_close = false;
    root.fail_remove = true;
    FileInfo empty = file_info("empty");
    ASSERT_TRUE(sink->new_file(empty, false));
    EXPECT_FALSE(sink->end_file(empty));
    EXPECT_EQ(root.removed, std::vector<std::string>{"empty_CAN.trc"});
}


// a.mf4 and a.MF4 in one folder share the trace path a_CAN.trc: the later
// file must not overwrite the earlier one's frames.
TEST_F(TrcWriterTest, KeptTraceFileIsNotOverwrittenInTheSameRun) {
    auto sink = writer(kTraceVersion21);
    ASSERT_TRUE(convert(*sink, "a", {can_record(1, 0x1, kClassic)}));
    const std::string first = root.files["a_CAN.trc"];
    EXPECT_FALSE(convert(*sink, "a", {can_record(2, 0x2, kClassic)}));
    EXPECT_EQ(root.files["a_CAN.trc"], first);
    EXPECT_EQ(root.open_flags.size(), 1u);

    // A path whose file was removed again (no frame lines) is free.
    ASSERT_TRUE(convert(*sink, "b", {other_record(1, BusRecordKind::LinFrame)}));
    ASSERT_TRUE(convert(*sink, "b", {can_record(3, 0x3, kClassic)}));
    EXPECT_TRUE(root.exists("b_CAN.trc"));
}

}  // namespace
}  // namespace tracemill
