// Candump log output: the line of every CAN record kind, and the writer as a
// sink (file name, LIN passed over, no file without a line).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/candump_line.h"
#include "log/candump_log_format.h"
#include "common/log.h"
#include "trc/memory_output_root.h"

namespace tracemill {
namespace {

BusRecord can_record(BusRecordKind kind, uint8_t channel, uint32_t id, CanDetails can, std::vector<uint8_t> data) {
    BusRecord record;
    record.timestamp = 1'700'000'000.25;
    record.bus_channel = channel;
    record.id = id;
    record.data = std::move(data);
    record.kind = kind;
    record.details.can = can;
    return record;
}

BusRecord error_record(uint8_t channel, uint32_t error_type) {
    BusRecord record;
    record.timestamp = 1'700'000'000.25;
    record.kind = BusRecordKind::CanErrorFrame;
    record.details.error = {channel, error_type};
    return record;
}

BusRecord lin_record(BusRecordKind kind) {
    BusRecord record;
    record.timestamp = 1'700'000'000.5;
    record.bus_channel = 1;
    record.kind = kind;
    record.data = {1, 2};
    return record;
}

constexpr auto kData = BusRecordKind::CanDataFrame;
constexpr auto kRemote = BusRecordKind::CanRemoteFrame;

TEST(CandumpLine, EveryCanKind) {
    struct Case {
        BusRecord record;
        const char* line;
    };
    //                   ide dir edl esi brs rtr dlc
    const Case cases[] = {
        {can_record(kData, 1, 0x123, {0, 0, 0, 0, 0, 0, 2}, {0xDE, 0xAD}), "(1700000000.250000) can0 123#DEAD\n"},
        {can_record(kData, 2, 0x7, {0, 0, 0, 0, 0, 0, 0}, {}), "(1700000000.250000) can1 007#\n"},
        {can_record(kData, 1, 0x18FEF100, {1, 1, 0, 0, 0, 0, 1}, {0x0A}), "(1700000000.250000) can0 18FEF100#0A T\n"},
        {can_record(kData, 11, 0x456, {0, 0, 1, 0, 1, 0, 9}, {1, 2, 3}), "(1700000000.250000) can10 456##1010203\n"},
        {can_record(kData, 1, 0x456, {0, 0, 1, 1, 0, 0, 0}, {}), "(1700000000.250000) can0 456##2\n"},
        {can_record(kData, 1, 0x1, {1, 1, 1, 1, 1, 0, 9}, {0xFF}), "(1700000000.250000) can0 00000001##3FF T\n"},
        {can_record(kRemote, 1, 0x340, {0, 0, 0, 0, 0, 1, 6}, {0, 0, 0, 0, 0, 0}), "(1700000000.250000) can0 340#R6\n"},
        {can_record(kRemote, 1, 0x340, {0, 0, 0, 0, 0, 1, 0}, {}), "(1700000000.250000) can0 340#R\n"},
        {can_record(kRemote, 1, 0x1ABCDEF, {1, 1, 0, 0, 0, 1, 15}, {}), "(1700000000.250000) can0 01ABCDEF#R8 T\n"},
        {can_record(kData, 0, 0xE0000123, {0, 0, 0, 0, 0, 0, 0}, {}), "(1700000000.250000) can-1 123#\n"},
        {error_record(1, 0), "(1700000000.250000) can0 20000088#0000000000000000\n"},
        {error_record(2, 1), "(1700000000.250000) can1 20000088#0000010000000000\n"},
        {error_record(1, 2), "(1700000000.250000) can0 20000088#0000020000000000\n"},
        {error_record(1, 3), "(1700000000.250000) can0 20000088#0000040000000000\n"},
        {error_record(1, 4), "(1700000000.250000) can0 20000088#0000000800000000\n"},
        {error_record(1, 5), "(1700000000.250000) can0 200000A0#0000001900000000\n"},
    };
    for (const Case& c : cases) {
        std::string out(candump_line_capacity(c.record.data.size()), '\0');
        out.resize(format_candump_line(out.data(), c.record));
        EXPECT_EQ(out, c.line);
    }
}

// LIN is passed over; an input without a CAN frame gets no file, and an earlier one stays.
TEST(CandumpLogWriter, CanFramesGoToTheLogAndLinIsPassedOver) {
    set_log_threshold(kError);  // the passed-over notes
    testing::MemoryOutputRoot root;
    root.files["x/b.log"] = "earlier run";
    auto sink = candump_log_writer_new(root, true);
    const struct {
        const char* stem;
        std::vector<BusRecord> records;
        uint64_t passed_over, written;
        const char* output;
    } files[] = {
        {"x/a",
         {lin_record(BusRecordKind::LinFrame), can_record(kData, 1, 0x10, {0, 0, 0, 0, 0, 0, 1}, {9}),
          lin_record(BusRecordKind::LinSyncError), error_record(1, 1),
          can_record(kData, 1, 0x11, {0, 0, 1, 0, 0, 0, 1}, {8}), can_record(kRemote, 1, 0x12, {0, 0, 0, 0, 0, 1, 0}, {})},
         2, 4, "x/a.log"},  // the error frame is written too
        {"x/b", {lin_record(BusRecordKind::LinFrame), lin_record(BusRecordKind::LinReceiveError)}, 2, 0, ""},
    };
    for (const auto& file : files) {
        FileInfo info;
        info.output_stem = file.stem;
        ASSERT_TRUE(sink->new_file(info, false));
        for (const BusRecord& r : file.records) ASSERT_TRUE(sink->record(r));
        ASSERT_TRUE(sink->end_file(info));
        EXPECT_EQ(sink->outcome().passed_over.total(), file.passed_over) << file.stem;
        EXPECT_EQ(sink->outcome().passed_over.can_error_frames, 0u) << file.stem;
        EXPECT_EQ(sink->outcome().written.total(), file.written) << file.stem;
        EXPECT_EQ(sink->outcome().output_path, file.output) << file.stem;
    }
    EXPECT_EQ(root.created, std::vector<std::string>{"x/a.log"});
    EXPECT_EQ(root.files["x/b.log"], "earlier run");
    EXPECT_EQ(root.files["x/a.log"],
              "(1700000000.250000) can0 010#09\n"
              "(1700000000.250000) can0 20000088#0000010000000000\n"
              "(1700000000.250000) can0 011##008\n"
              "(1700000000.250000) can0 012#R\n");
}

}  // namespace
}  // namespace tracemill
