// ASCII traces: the exact line of every record kind, the time column against
// printf, dates, one trace per input, and what python-can and a LIN line
// parser read back from a written trace.
#include "asc/asc_line_format.h"
#include "asc/asc_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "driver/file_system_root.h"
#include "temp_dir.h"
#include "text/printf_reference.h"

namespace tracemill {
namespace {

constexpr double kStart = 1'700'000'000.25;  // Tue 2023-11-14 22:13:20.250
constexpr auto kLinFrame = BusRecordKind::LinFrame;

BusRecord make(BusRecordKind kind, double offset, uint8_t channel, uint32_t id, BusRecordDetails details,
               size_t data_size = 0) {
    std::vector<uint8_t> data(data_size);
    for (size_t i = 0; i < data_size; ++i) data[i] = static_cast<uint8_t>(i * 17);
    return BusRecord{kStart + offset, channel, id, std::move(data), kind, details};
}
// ide dir edl esi brs rtr dlc
BusRecord can(double offset, uint8_t channel, uint32_t id, CanDetails can, size_t data_size = 0) {
    return make(can.rtr ? BusRecordKind::CanRemoteFrame : BusRecordKind::CanDataFrame, offset, channel, id,
                {.can = can}, data_size);
}
BusRecord lin(BusRecordKind kind, double offset, uint8_t channel, uint32_t id, uint8_t dir = 0, size_t size = 0) {
    return make(kind, offset, channel, id, {.lin = {dir, static_cast<uint8_t>(size)}}, size);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct LineCase {
    BusRecord record;
    const char* line;  // its line in the trace
    // What python-can reads back (data cut to 16 bytes): time, channel, id,
    // extended, received, remote, error, FD, BRS, ESI, DLC, data. Empty for LIN;
    // null when unchecked: python-can takes an FD frame without data for a remote frame.
    const char* frame;
};

// One trace of every kind; the first record is the time base.
const std::vector<LineCase> kCases = {
    {can(0, 1, 0x123, {0, 0, 0, 0, 0, 0, 2}, 2), "   0.000000 1  123             Rx   d 2 00 11",
     "1700000000.250000 0 123 0 1 0 0 0 0 0 2 0011"},
    {can(0.0125, 2, 0x18FEF100, {1, 1, 0, 0, 0, 1, 8}), "   0.012500 2  18FEF100x       Tx   r 8",
     "1700000000.262500 1 18FEF100 1 0 1 0 0 0 0 8 "},
    {can(0.5, 1, 0x1ABCDEF, {1, 1, 0, 0, 0, 0, 8}, 8), "   0.500000 1  1ABCDEFx        Tx   d 8 00 11 22 33 44 55 66 77",
     "1700000000.750000 0 1ABCDEF 1 0 0 0 0 0 0 8 0011223344556677"},
    {can(0.75, 12, 0x7FF, {}), "   0.750000 12  7FF             Rx   d 0", "1700000001.000000 11 7FF 0 1 0 0 0 0 0 0 "},
    {can(1.000001, 1, 0x456, {0, 0, 1, 0, 1, 0, 9}, 12),
     "   1.000001 CANFD   1 Rx        456 1 0 9 12 00 11 22 33 44 55 66 77 88 99 AA BB 0 0 3000 0 0 0 0 0",
     "1700000001.250001 0 456 0 1 0 0 1 1 0 12 00112233445566778899aabb"},
    {can(2, 3, 0x18FEF100, {1, 1, 1, 1, 0, 0, 0}), "   2.000000 CANFD   3 Tx   18FEF100x 0 1 0  0 0 0 5000 0 0 0 0 0",
     nullptr},
    {can(2.5, 2, 0x7, {0, 0, 1, 1, 1, 0, 15}, 64), nullptr,
     "1700000002.750000 1 7 0 1 0 0 1 1 1 64 00112233445566778899aabbccddeeff"},
    // python-can marks error frames extended.
    {make(BusRecordKind::CanErrorFrame, 3.25, 0, 0, {.error = {2, 4}}), "   3.250000 2  ErrorFrame",
     "1700000003.500000 1 0 1 1 0 1 0 0 0 0 "},
    {lin(kLinFrame, 4, 1, 0x3C, 1, 4), "   4.000000 Li1 3C              Tx   4 00 11 22 33", ""},
    {lin(BusRecordKind::LinChecksumError, 4.1, 2, 0x21, 0, 2), "   4.100000 Li2 21              CSErr Rx 2 00 11", ""},
    {lin(BusRecordKind::LinReceiveError, 4.2, 1, 0x10), "   4.200000 Li1 10              0 RcvError: receive error", ""},
    {lin(BusRecordKind::LinTransmissionError, 4.3, 1, 0x2A), "   4.300000 Li1 2A              TransmErr", ""},
    {lin(BusRecordKind::LinSyncError, 4.4, 3, 0), "   4.400000 Li3 SyncError", ""},
    {can(12345.678901, 1, 0, {0, 0, 0, 0, 0, 0, 2}, 2), "12345.678901 1  0               Rx   d 2 00 11",
     "1700012345.928901 0 0 0 1 0 0 0 0 0 2 0011"},
};

const std::string kHeader =
    "date Tue Nov 14 10:13:20.250 pm 2023\nbase hex  timestamps absolute\ninternal events logged\n"
    "Begin Triggerblock Tue Nov 14 10:13:20.250 pm 2023\n   0.000000 Start of measurement\n";

class AscWriterTest : public ::testing::Test {
protected:
    // The records as input `stem`, in `stem`.asc; empty when a call failed.
    std::string convert(const std::string& stem, const std::vector<BusRecord>& records) {
        const FileInfo info{.output_stem = stem};
        bool ok = sink->new_file(info, false);
        for (const BusRecord& r : records) ok = sink->record(r) && ok;
        return sink->end_file(info) && ok ? read_text(dir / (stem + ".asc")) : "";
    }
    std::string convert_all(const std::string& stem) {
        std::vector<BusRecord> records;
        for (const LineCase& c : kCases) records.push_back(c.record);
        return convert(stem, records);
    }
    TempDir dir;
    std::unique_ptr<FileSystemRoot> root = local_root_new(dir.path());
    std::unique_ptr<OutputSink> sink = asc_writer_new(root.get(), false);
};

TEST_F(AscWriterTest, EveryRecordKindHasItsLine) {
    const std::string text = convert_all("a");
    ASSERT_EQ(text.substr(0, kHeader.size()), kHeader);
    std::istringstream lines(text.substr(kHeader.size()));
    std::string line;
    for (const LineCase& c : kCases) {
        ASSERT_TRUE(std::getline(lines, line));
        if (c.line != nullptr) {
            EXPECT_EQ(line, c.line);
        }
    }
    EXPECT_TRUE(std::getline(lines, line) && line + "\n" == kAscClosingLine && !std::getline(lines, line));
    const FileOutcome outcome = sink->outcome();
    EXPECT_EQ(outcome.output_path, "a.asc");
    EXPECT_EQ(outcome.bytes_written, text.size());
    EXPECT_EQ(outcome.passed_over.total(), 0u);
    EXPECT_EQ(outcome.written.can_frames, 4u);
    EXPECT_EQ(outcome.written.can_fd_frames, 3u);
    EXPECT_EQ(outcome.written.can_remote_frames, 1u);
}

// An input without records leaves no file; each other input gets a trace of
// its own, timed from its own first record of any kind.
TEST_F(AscWriterTest, EachInputHasItsOwnTraceAndTimeBase) {
    EXPECT_EQ(convert("empty", {}), "");
    EXPECT_TRUE(sink->outcome().output_path.empty() && sink->outcome().durable);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.asc"));
    EXPECT_EQ(convert("next", {lin(BusRecordKind::LinSyncError, 3600, 1, 0), can(3600.5, 1, 1, {}, 0)}),
              "date Tue Nov 14 11:13:20.250 pm 2023\nbase hex  timestamps absolute\ninternal events logged\n"
              "Begin Triggerblock Tue Nov 14 11:13:20.250 pm 2023\n   0.000000 Start of measurement\n"
              "   0.000000 Li1 SyncError\n   0.500000 1  1               Rx   d 0\nEnd TriggerBlock\n");
}

TEST(AscText, TimeColumnEqualsPrintfAndDatesUseTwelveHours) {
    std::vector<double> values = {0, -0.0, 2.5e-7, 1.0000005, 9999.9999995, 10000.5, 99999999.5, 999999999.9999996,
                                  1e9, 1e15, -1.5, 4.2e-300, kInfinity};
    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) values.push_back(std::ldexp(static_cast<double>(random() >> 11), -53 + i % 40));
    for (double value : values) {
        char out[400];
        ASSERT_EQ(std::string(out, put_asc_time(out, value)), printf_text("%11.6f", value)) << value;
    }
    EXPECT_EQ(asc_date_text(0), "Thu Jan 01 12:00:00.000 am 1970");
    EXPECT_EQ(asc_date_text(43200.9999), "Thu Jan 01 12:00:00.999 pm 1970");
    EXPECT_EQ(asc_date_text(-5), "Thu Jan 01 12:00:00.000 am 1970");  // before 1970: the epoch
}

// Every LIN line parses back to its record.
TEST_F(AscWriterTest, LinLinesParseBackToTheirRecords) {
    const std::regex form(R"( *(\d+\.\d{6}) Li(\d+) (?:SyncError|([0-9A-F]+) +(?:TransmErr|0 RcvError: receive error|)"
                          R"((CSErr )?(Rx|Tx) +(\d+)((?: [0-9A-F]{2})*))))");
    std::vector<BusRecord> records;
    for (const LineCase& c : kCases)
        if (c.record.kind >= kLinFrame) records.push_back(c.record);
    std::istringstream lines(convert_all("lin"));
    size_t next = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line.find(" Li") == std::string::npos) continue;
        ASSERT_TRUE(next < records.size() && std::regex_match(line, m, form)) << line;
        const BusRecord& r = records[next++];
        EXPECT_DOUBLE_EQ(std::stod(m[1]), std::round((r.timestamp - kStart) * 1e6) / 1e6) << line;
        EXPECT_EQ(std::stoi(m[2]), r.bus_channel) << line;
        EXPECT_EQ(m[3].matched ? std::stoul(m[3], nullptr, 16) : 0, r.id) << line;
        EXPECT_EQ(m[4].matched, r.kind == BusRecordKind::LinChecksumError) << line;
        if (!m[5].matched) continue;
        EXPECT_EQ(m[5] == "Tx", r.details.lin.dir == 1) << line;
        EXPECT_EQ(std::stoul(m[6]), r.data.size()) << line;
        std::istringstream bytes(m[7].str());
        std::vector<uint8_t> data;
        for (unsigned byte = 0; bytes >> std::hex >> byte;) data.push_back(static_cast<uint8_t>(byte));
        EXPECT_EQ(data, r.data) << line;
    }
    EXPECT_EQ(next, records.size());
}

TEST_F(AscWriterTest, PythonCanReadsEveryCanRecordBack) {
    const char* script = R"(import sys
try:
    import can
except ImportError:
    sys.exit(3)
for m in can.ASCReader(sys.argv[1], relative_timestamp=False):
    print("%.6f %d %X %d %d %d %d %d %d %d %d %s" % (m.timestamp, m.channel, m.arbitration_id, m.is_extended_id,
          m.is_rx, m.is_remote_frame, m.is_error_frame, m.is_fd, m.bitrate_switch, m.error_state_indicator, m.dlc,
          m.data.hex()[:32])))";
    std::ofstream(dir / "read.py") << script;
    ASSERT_FALSE(convert_all("back").empty());
    // In UTC the header's wall-clock date reads back as the first record's time.
    const int status = std::system(("TZ=UTC /usr/bin/python3 " + (dir / "read.py") + " " + (dir / "back.asc") + " >" +
                                    (dir / "frames") + " 2>&1").c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) GTEST_SKIP() << "/usr/bin/python3 is missing";
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "python-can is missing (install python3-can)";
    std::istringstream frames(read_text(dir / "frames"));
    ASSERT_EQ(WEXITSTATUS(status), 0) << frames.str();
    std::string frame;
    for (const LineCase& c : kCases) {
        if (c.frame != nullptr && *c.frame == '\0') continue;
        ASSERT_TRUE(std::getline(frames, frame));
        if (c.frame != nullptr) {
            EXPECT_EQ(frame, c.frame);
        }
    }
    EXPECT_FALSE(std::getline(frames, frame)) << frame;
}

}  // namespace
}  // namespace tracemill
