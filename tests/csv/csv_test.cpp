// CSV output: the row of every record kind, and the writer as a sink (header
// once per file, every record kept, no file without a row).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "csv/csv_format.h"
#include "csv/csv_row.h"
#include "trc/memory_output_root.h"

namespace tracemill {
namespace {

BusRecord record_of(BusRecordKind kind, uint32_t id, std::vector<uint8_t> data, BusRecordDetails details) {
    BusRecord record;
    record.timestamp = 1'700'000'000.25;
    record.bus_channel = 2;
    record.id = id;
    record.data = std::move(data);
    record.kind = kind;
    record.details = details;
    return record;
}

BusRecordDetails can(CanDetails details) { return BusRecordDetails{.can = details}; }
BusRecordDetails lin(uint8_t dir) { return BusRecordDetails{.lin = {dir, 0}}; }
BusRecordDetails error(uint8_t channel, uint32_t type) { return BusRecordDetails{.error = {channel, type}}; }

using K = BusRecordKind;
constexpr char kTime[] = "2023-11-14T22:13:20.250000Z,1700000000.250000,";

TEST(CsvRow, EveryRecordKind) {
    struct Case {
        BusRecord record;
        const char* row;  // after the two time columns
    };
    //                                        ide dir edl esi brs rtr dlc
    const Case cases[] = {
        {record_of(K::CanDataFrame, 0x123, {0xDE, 0xAD}, can({0, 0, 0, 0, 0, 0, 2})), "CAN,2,123,0,Rx,data,,0,0,0,2,2,DE AD"},
        {record_of(K::CanDataFrame, 0x18FEF100, {1, 2, 3}, can({1, 1, 1, 1, 1, 0, 9})),
         "CAN,2,18FEF100,1,Tx,data,,1,1,1,9,3,01 02 03"},
        {record_of(K::CanRemoteFrame, 0x340, {0, 0, 0, 0}, can({0, 1, 0, 0, 0, 1, 4})), "CAN,2,340,0,Tx,remote,,0,0,0,4,4,"},
        {record_of(K::CanErrorFrame, 0, {}, error(3, 4)), "CAN,3,,,,error,crc,,,,,0,"},
        {record_of(K::CanErrorFrame, 0, {}, error(1, 0)), "CAN,1,,,,error,unknown,,,,,0,"},
        {record_of(K::LinFrame, 0x3C, {0xAA}, lin(1)), "LIN,2,3C,,Tx,lin,,,,,,1,AA"},
        {record_of(K::LinChecksumError, 0x5, {1, 2}, lin(0)), "LIN,2,05,,Rx,lin checksum error,,,,,,2,01 02"},
        {record_of(K::LinReceiveError, 0x21, {}, {}), "LIN,2,21,,,lin receive error,,,,,,0,"},
        {record_of(K::LinTransmissionError, 0x22, {}, {}), "LIN,2,22,,,lin transmission error,,,,,,0,"},
        {record_of(K::LinSyncError, 0, {}, {}), "LIN,2,,,,lin sync error,,,,,,0,"},
    };
    for (const Case& c : cases) {
        std::string out(csv_row_capacity(c.record.data.size()), '\0');
        out.resize(format_csv_row(out.data(), c.record));
        EXPECT_EQ(out, std::string(kTime) + c.row + "\r\n");
        // As many fields as the header names.
        EXPECT_EQ(std::count(out.begin(), out.end(), ','), std::count(kCsvHeader.begin(), kCsvHeader.end(), ','));
    }
}

// One writer keeps the text of the current second: rows stay right when the second changes.
TEST(CsvRow, TimesFromRowToRow) {
    struct Case {
        double seconds;
        const char* times;
    };
    const Case cases[] = {
        {1'700'000'000.25, "2023-11-14T22:13:20.250000Z,1700000000.250000,"},
        {1'700'000'000.999999, "2023-11-14T22:13:20.999999Z,1700000000.999999,"},
        {1'700'000'001.000001, "2023-11-14T22:13:21.000001Z,1700000001.000001,"},
        {-1.5, "1969-12-31T23:59:58.500000Z,-1.500000,"},
        {1'700'000'000.5, "2023-11-14T22:13:20.500000Z,1700000000.500000,"},
        {86'399.9999996, "1970-01-02T00:00:00.000000Z,86400.000000,"},
    };
    CsvRowWriter writer;
    for (const Case& c : cases) {
        BusRecord record = record_of(K::LinSyncError, 0, {}, {});
        record.timestamp = c.seconds;
        std::string out(csv_row_capacity(0), '\0');
        out.resize(writer.format(out.data(), record));
        EXPECT_EQ(out.substr(0, std::string_view(c.times).size()), c.times);
    }
}

// A header before the first row of each table; no table for an input without records.
TEST(CsvWriter, HeaderOncePerFileAndNothingPassedOver) {
    testing::MemoryOutputRoot root;
    auto sink = csv_writer_new(root, false);
    for (const char* stem : {"a", "b"}) {
        FileInfo info;
        info.output_stem = stem;
        info.encrypted = true;
        ASSERT_TRUE(sink->new_file(info, false));
        for (int i = 0; stem[0] == 'a' && i < 2; ++i)
            ASSERT_TRUE(sink->record(record_of(K::LinSyncError, 0, {}, {})));
        ASSERT_TRUE(sink->end_file(info));
        EXPECT_EQ(sink->outcome().passed_over.total(), 0u);
    }
    const std::string row = std::string(kTime) + "LIN,2,,,,lin sync error,,,,,,0,\r\n";
    EXPECT_EQ(root.files["a.csv"], std::string(kCsvHeader) + row + row);
    EXPECT_EQ(root.created, std::vector<std::string>{"a.csv"});
    EXPECT_EQ(root.modes, std::vector<uint32_t>{kPrivateFileMode});
}

}  // namespace
}  // namespace tracemill
