// ASCII traces: the exact line of every record kind, the time column against
// printf, the header dates, files per input, and what python-can and a LIN
// line parser read back from a written trace.
#include "asc/asc_line_format.h"
#include "asc/asc_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/file_system_root.h"
#include "temp_dir.h"
#include "text/printf_reference.h"

namespace tracemill {
namespace {

constexpr double kStart = 1'700'000'000.25;  // Tue 2023-11-14 22:13:20.250
constexpr const char* kPython = "/usr/bin/python3";

BusRecord can(double offset, uint8_t channel, uint32_t id, CanDetails details, std::vector<uint8_t> data = {}) {
    BusRecord record;
    record.timestamp = kStart + offset;
    record.bus_channel = channel;
    record.id = id;
    record.data = std::move(data);
    record.kind = details.rtr ? BusRecordKind::CanRemoteFrame : BusRecordKind::CanDataFrame;
    record.details.can = details;
    return record;
}

BusRecord error_frame(double offset, uint8_t channel) {
    BusRecord record;
    record.timestamp = kStart + offset;
    record.kind = BusRecordKind::CanErrorFrame;
    record.details.error = CanErrorDetails{channel, 4};
    return record;
}

BusRecord lin(double offset, BusRecordKind kind, uint8_t channel, uint32_t id, uint8_t dir = 0,
              std::vector<uint8_t> data = {}) {
    BusRecord record;
    record.timestamp = kStart + offset;
    record.kind = kind;
    record.bus_channel = channel;
    record.id = id;
    record.data = std::move(data);
    record.details.lin = LinDetails{dir, static_cast<uint8_t>(record.data.size())};
    return record;
}

std::vector<uint8_t> counting_bytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 17);
    return bytes;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

//                          ide dir edl esi brs rtr dlc
constexpr CanDetails kClassic{0, 0, 0, 0, 0, 0, 2};
constexpr CanDetails kClassicExtTx{1, 1, 0, 0, 0, 0, 8};
constexpr CanDetails kEmpty{0, 0, 0, 0, 0, 0, 0};
constexpr CanDetails kRemoteExtTx{1, 1, 0, 0, 0, 1, 8};
constexpr CanDetails kFdBrs{0, 0, 1, 0, 1, 0, 9};
constexpr CanDetails kFdEsiExtTx{1, 1, 1, 1, 0, 0, 0};
constexpr CanDetails kFdBoth{0, 0, 1, 1, 1, 0, 15};

struct LineCase {
    const char* name;
    BusRecord record;
    const char* line;   // its line in the trace
    // What python-can reads from it (data cut to 16 bytes), empty for LIN;
    // null where it is not checked: python-can takes an FD frame without data
    // for a remote frame.
    const char* frame;
};

// One trace with every kind; the first record is the time base.
const std::vector<LineCase>& line_cases() {
    static const std::vector<LineCase> cases = {
        {"classic", can(0, 1, 0x123, kClassic, {0xDE, 0xAD}), "   0.000000 1  123             Rx   d 2 DE AD",
         "1700000000.250000 0 123 0 1 0 0 0 0 0 2 dead"},
        {"remote, extended, sent", can(0.0125, 2, 0x18FEF100, kRemoteExtTx),
         "   0.012500 2  18FEF100x       Tx   r 8", "1700000000.262500 1 18FEF100 1 0 1 0 0 0 0 8 "},
        {"eight bytes, extended, sent", can(0.5, 1, 0x1ABCDEF, kClassicExtTx, counting_bytes(8)),
         "   0.500000 1  1ABCDEFx        Tx   d 8 00 11 22 33 44 55 66 77",
         "1700000000.750000 0 1ABCDEF 1 0 0 0 0 0 0 8 0011223344556677"},
        {"no data", can(0.75, 12, 0x7FF, kEmpty), "   0.750000 12  7FF             Rx   d 0",
         "1700000001.000000 11 7FF 0 1 0 0 0 0 0 0 "},
        {"FD, bit rate switch", can(1.000001, 1, 0x456, kFdBrs, counting_bytes(12)),
         "   1.000001 CANFD   1 Rx        456 1 0 9 12 00 11 22 33 44 55 66 77 88 99 AA BB 0 0 3000 0 0 0 0 0",
         "1700000001.250001 0 456 0 1 0 0 1 1 0 12 00112233445566778899aabb"},
        {"FD, error state, extended, sent, empty", can(2, 3, 0x18FEF100, kFdEsiExtTx),
         "   2.000000 CANFD   3 Tx   18FEF100x 0 1 0  0 0 0 5000 0 0 0 0 0", nullptr},
        {"FD, 64 bytes", can(2.5, 2, 0x7, kFdBoth, counting_bytes(64)), nullptr,
         "1700000002.750000 1 7 0 1 0 0 1 1 1 64 00112233445566778899aabbccddeeff"},
        // python-can marks error frames extended by default.
        {"error frame", error_frame(3.25, 2), "   3.250000 2  ErrorFrame", "1700000003.500000 1 0 1 1 0 1 0 0 0 0 "},
        {"LIN frame", lin(4, BusRecordKind::LinFrame, 1, 0x3C, 1, {1, 2, 3, 4}),
         "   4.000000 Li1 3C              Tx   4 01 02 03 04", ""},
        {"LIN checksum error", lin(4.1, BusRecordKind::LinChecksumError, 2, 0x21, 0, {0xAA, 0xBB}),
         "   4.100000 Li2 21              CSErr Rx 2 AA BB", ""},
        {"LIN receive error", lin(4.2, BusRecordKind::LinReceiveError, 1, 0x10),
         "   4.200000 Li1 10              0 RcvError: receive error", ""},
        {"LIN transmission error", lin(4.3, BusRecordKind::LinTransmissionError, 1, 0x2A),
         "   4.300000 Li1 2A              TransmErr", ""},
        {"LIN sync error", lin(4.4, BusRecordKind::LinSyncError, 3, 0), "   4.400000 Li3 SyncError", ""},
        {"late classic", can(12345.678901, 1, 0x0, kClassic, {1, 2}),
         "12345.678901 1  0               Rx   d 2 01 02", "1700012345.928901 0 0 0 1 0 0 0 0 0 2 0102"},
    };
    return cases;
}

const char* const kHeader =
    "date Tue Nov 14 10:13:20.250 pm 2023\n"
    "base hex  timestamps absolute\n"
    "internal events logged\n"
    "Begin Triggerblock Tue Nov 14 10:13:20.250 pm 2023\n"
    "   0.000000 Start of measurement\n";

class AscWriterTest : public ::testing::Test {
protected:
    // Writes the records as the input `stem`; false when any call fails.
    bool convert(const std::string& stem, const std::vector<BusRecord>& records) {
        FileInfo info;
        info.output_stem = stem;
        bool ok = sink->new_file(info, false);
        for (const BusRecord& r : records) ok = sink->record(r) && ok;
        return sink->end_file(info) && ok;
    }
    std::vector<BusRecord> all_records() const {
        std::vector<BusRecord> records;
        for (const LineCase& c : line_cases()) records.push_back(c.record);
        return records;
    }

    TempDir dir;
    std::unique_ptr<FileSystemRoot> root = local_root_new(dir.path());
    std::unique_ptr<OutputSink> sink = asc_writer_new(root.get(), false);
};

TEST_F(AscWriterTest, EveryRecordKindHasItsLine) {
    ASSERT_TRUE(convert("run/a", all_records()));
    const std::string text = read_text(dir / "run/a.asc");
    ASSERT_EQ(text.substr(0, std::string(kHeader).size()), kHeader);
    std::istringstream lines(text.substr(std::string(kHeader).size()));
    std::string line;
    for (const LineCase& c : line_cases()) {
        ASSERT_TRUE(std::getline(lines, line)) << c.name;
        if (c.line != nullptr) {
            EXPECT_EQ(line, c.line) << c.name;
        }
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line + "\n", kAscClosingLine);
    EXPECT_FALSE(std::getline(lines, line));

    const FileOutcome outcome = sink->outcome();
    EXPECT_EQ(outcome.output_path, "run/a.asc");
    EXPECT_EQ(outcome.bytes_written, text.size());
    EXPECT_EQ(outcome.passed_over.total(), 0u);
    EXPECT_EQ(outcome.written.can_frames, 4u);
    EXPECT_EQ(outcome.written.can_fd_frames, 3u);
    EXPECT_EQ(outcome.written.can_remote_frames, 1u);
}

// Inputs without records leave no file; every other input gets a trace of
// its own whose times start at its own first record, whatever its kind.
TEST_F(AscWriterTest, EachInputHasItsOwnTraceAndTimeBase) {
    ASSERT_TRUE(convert("empty", {}));
    EXPECT_TRUE(sink->outcome().output_path.empty());
    EXPECT_TRUE(sink->outcome().durable);
    ASSERT_TRUE(convert("second", {lin(-1, BusRecordKind::LinSyncError, 1, 0), can(-0.5, 1, 0x1, kClassic, {1, 2})}));
    EXPECT_EQ(read_text(dir / "second.asc"),
              "date Tue Nov 14 10:13:19.250 pm 2023\n"
              "base hex  timestamps absolute\n"
              "internal events logged\n"
              "Begin Triggerblock Tue Nov 14 10:13:19.250 pm 2023\n"
              "   0.000000 Start of measurement\n"
              "   0.000000 Li1 SyncError\n"
              "   0.500000 1  1               Rx   d 2 01 02\n"
              "End TriggerBlock\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.asc"));
}

TEST(AscTimeColumn, EqualsPrintf) {
    std::vector<double> values = {0,         -0.0,         2.5e-7,        5e-7,       1.0000005,    0.0000015,
                                  9999.9999995, 10000.5,   123456.123456, 99999999.5, 123456789.125, 999999999.9999996,
                                  1e9,       1e15,         -1.5,          -0.0000004, 4.2e-300,     kInfinity};
    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        const double scale = std::ldexp(1.0, static_cast<int>(random() % 40) - 10);
        values.push_back(static_cast<double>(random() % 1'000'000'007) / 1'000'000'007.0 * scale);
    }
    for (double value : values) {
        char out[400];
        const std::string fast(out, put_asc_time(out, value));
        ASSERT_EQ(fast, printf_text("%11.6f", value)) << value;
    }
}

TEST(AscHeader, DatesAreWallClockTwelveHourTimes) {
    struct Case {
        double seconds;
        const char* date;
    } const cases[] = {
        {0, "Thu Jan 01 12:00:00.000 am 1970"},
        {43200.9999, "Thu Jan 01 12:00:00.999 pm 1970"},
        {1'700'000'000.25, "Tue Nov 14 10:13:20.250 pm 2023"},
        {1'709'251'199.5, "Thu Feb 29 11:59:59.500 pm 2024"},
        {1'000'000'000.001, "Sun Sep 09 01:46:40.001 am 2001"},
        {-5, "Thu Jan 01 12:00:00.000 am 1970"},
        {std::nan(""), "Thu Jan 01 12:00:00.000 am 1970"},
    };
    for (const Case& c : cases) EXPECT_EQ(asc_date_text(c.seconds), c.date) << c.seconds;
}

// ---------------------------------------------------------------------------
// Read-back.

// A LIN line taken apart as a reader of the format would.
struct LinLine {
    BusRecordKind kind = BusRecordKind::Unsupported;
    double offset = 0;
    int channel = 0;
    uint32_t id = 0;
    int dir = 0;
    std::vector<uint8_t> data;
};

std::optional<LinLine> parse_lin_line(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> t;
    for (std::string token; in >> token;) t.push_back(token);
    if (t.size() < 3 || t[1].rfind("Li", 0) != 0) return std::nullopt;
    LinLine parsed;
    parsed.offset = std::stod(t[0]);
    parsed.channel = std::stoi(t[1].substr(2));
    if (t[2] == "SyncError" && t.size() == 3) {
        parsed.kind = BusRecordKind::LinSyncError;
        return parsed;
    }
    if (t.size() < 4) return std::nullopt;
    parsed.id = static_cast<uint32_t>(std::stoul(t[2], nullptr, 16));
    size_t next = 3;  // the direction of a frame line
    if (t[3] == "TransmErr" && t.size() == 4) {
        parsed.kind = BusRecordKind::LinTransmissionError;
        return parsed;
    }
    if (t.size() >= 5 && t[4] == "RcvError:") {
        parsed.kind = BusRecordKind::LinReceiveError;
        return t[3] == "0" ? std::optional(parsed) : std::nullopt;
    }
    parsed.kind = BusRecordKind::LinFrame;
    if (t[3] == "CSErr") {
        parsed.kind = BusRecordKind::LinChecksumError;
        next = 4;
    }
    if (t.size() < next + 2 || (t[next] != "Rx" && t[next] != "Tx")) return std::nullopt;
    parsed.dir = t[next] == "Tx";
    const size_t count = std::stoul(t[next + 1]);
    if (t.size() != next + 2 + count) return std::nullopt;
    for (size_t i = next + 2; i < t.size(); ++i) parsed.data.push_back(static_cast<uint8_t>(std::stoul(t[i], nullptr, 16)));
    return parsed;
}

TEST_F(AscWriterTest, LinLinesParseBackToTheirRecords) {
    ASSERT_TRUE(convert("lin", all_records()));
    std::istringstream lines(read_text(dir / "lin.asc"));
    std::vector<LinLine> parsed;
    for (std::string line; std::getline(lines, line);)
        if (auto lin_line = parse_lin_line(line)) parsed.push_back(*lin_line);
    size_t next = 0;
    for (const LineCase& c : line_cases()) {
        const BusRecord& r = c.record;
        if (r.kind < BusRecordKind::LinFrame) continue;
        ASSERT_LT(next, parsed.size()) << c.name;
        const LinLine& p = parsed[next++];
        EXPECT_EQ(p.kind, r.kind) << c.name;
        EXPECT_NEAR(p.offset, r.timestamp - kStart, 1e-6) << c.name;
        EXPECT_EQ(p.channel, r.bus_channel) << c.name;
        EXPECT_EQ(p.data, r.data) << c.name;
        if (r.kind != BusRecordKind::LinSyncError) {
            EXPECT_EQ(p.id, r.id) << c.name;
        }
        if (r.kind <= BusRecordKind::LinChecksumError) {
            EXPECT_EQ(p.dir, r.details.lin.dir) << c.name;
        }
    }
    EXPECT_EQ(next, parsed.size());
}

// Prints one line per message python-can reads: absolute time, channel,
// identifier, extended, received, remote, error, FD, BRS, ESI, DLC, data.
constexpr const char* kReadBackScript = R"(
import sys
try:
    import can
except ImportError:
    sys.exit(3)
for m in can.ASCReader(sys.argv[1], relative_timestamp=False):
    print("%.6f %d %X %d %d %d %d %d %d %d %d %s" % (m.timestamp, m.channel, m.arbitration_id, m.is_extended_id,
          m.is_rx, m.is_remote_frame, m.is_error_frame, m.is_fd, m.bitrate_switch, m.error_state_indicator, m.dlc,
          m.data.hex()[:32]))
)";

// Runs the script on `trace` in UTC with its output in `out_path`; the exit status, -1 when it did not end.
int run_read_back(const std::string& trace, const std::string& out_path) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out < 0 || ::dup2(out, 1) < 0) ::_exit(120);
        ::setenv("TZ", "UTC", 1);  // the header's wall-clock date read as it was written
        ::alarm(60);
        ::execl(kPython, kPython, "-c", kReadBackScript, trace.c_str(), static_cast<char*>(nullptr));
        ::_exit(124);
    }
    int raw = 0;
    if (child < 0 || ::waitpid(child, &raw, 0) != child) return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST_F(AscWriterTest, PythonCanReadsEveryCanRecordBack) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is missing";
    ASSERT_TRUE(convert("readback", all_records()));
    const int status = run_read_back(dir / "readback.asc", dir / "frames.txt");
    if (status == 3) GTEST_SKIP() << "python-can is missing (install python3-can)";
    ASSERT_EQ(status, 0);
    std::istringstream frames(read_text(dir / "frames.txt"));
    std::string frame;
    for (const LineCase& c : line_cases()) {
        if (c.frame != nullptr && *c.frame == '\0') continue;  // LIN: not read by python-can
        ASSERT_TRUE(std::getline(frames, frame)) << c.name;
        if (c.frame != nullptr) {
            EXPECT_EQ(frame, c.frame) << c.name;
        }
    }
    EXPECT_FALSE(std::getline(frames, frame)) << frame;
}

}  // namespace
}  // namespace tracemill
