// Every output format read back by an independent reader: a generated log
// with every record kind is converted into all formats at once, and what
// python-can (and Python's csv module) parse from each file is compared with
// the records the log holds. Also: the report's counts, and -d with several
// formats. Skipped when Debian's python3 with python-can is missing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "mdf/mdf_file.h"
#include "mdf/record_iterator.h"
#include "mdf_generator.h"
#include "mdf_writer.h"
#include "streams/memory_stream.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
constexpr char kPython[] = "/usr/bin/python3";

// Prints one line per record a reader gives: micros|channel|id|extended|direction|kind|fd|brs|esi|length|data.
constexpr char kReadBack[] = R"PY(
import csv, datetime, sys
import can
reader, path = sys.argv[1], sys.argv[2]
if reader == "csv":
    with open(path, newline="") as f:
        rows = csv.reader(f)
        print("header|" + ",".join(next(rows)))
        for r in rows:
            seconds, micros = r[1].split(".")
            total = int(seconds) * 1000000 + int(micros)
            iso = (datetime.datetime(1970, 1, 1) + datetime.timedelta(microseconds=total)).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
            if iso != r[0]:
                print("time columns disagree: " + r[0] + " " + r[1])
            ident = "%X" % int(r[4], 16) if r[4] else "-"
            fields = [str(total), r[3], ident] + [v or "-" for v in r[5:8] + r[9:12]] + [r[13], r[14].replace(" ", "")]
            print("|".join(fields))
else:
    # ASCII traces are read with the absolute times of their header's date.
    options = {"relative_timestamp": False} if reader == "ASCReader" else {}
    for m in getattr(can, reader)(path, **options):
        kind = "error" if m.is_error_frame else "remote" if m.is_remote_frame else "data"
        print("|".join([str(round(m.timestamp * 1e6)), str(m.channel), "%X" % m.arbitration_id,
                        str(int(m.is_extended_id)), "Rx" if m.is_rx else "Tx", kind, str(int(m.is_fd)),
                        str(int(m.bitrate_switch)), str(int(m.error_state_indicator)), str(m.dlc),
                        bytes(m.data).hex().upper()]))
)PY";

bool is_can_frame(const BusRecord& r) {
    return r.kind == BusRecordKind::CanDataFrame || r.kind == BusRecordKind::CanRemoteFrame;
}

std::string hex(uint32_t value, const char* form = "%X") {
    char text[16];
    snprintf(text, sizeof text, form, value);
    return text;
}

std::string data_hex(const BusRecord& r) {
    std::string text;
    for (uint8_t byte : r.data) text += hex(byte, "%02X");
    return text;
}

// "micros|field|field|...", as the script prints.
std::string line(double seconds, const std::vector<std::string>& fields) {
    std::string text = std::to_string(std::llround(seconds * 1e6));
    for (const std::string& field : fields) text += "|" + field;
    return text;
}

std::string flag(bool value) { return value ? "1" : "0"; }
std::string direction(uint8_t dir) { return dir ? "Tx" : "Rx"; }

// What a reader should give for a record; "" when the format (or the reader)
// leaves it out. `base` is the first CAN frame's time.
using Expectation = std::string (*)(const BusRecord& r, double base);

// python-can's TRCReader reads the data frame lines of TRC 2.1 (with the
// reserved column), with times relative to the first frame.
std::string trc_expected(const BusRecord& r, double base) {
    if (r.kind != BusRecordKind::CanDataFrame || r.details.can.edl) return "";
    return line(r.timestamp - base, {std::to_string(r.bus_channel), hex(r.id), flag(r.details.can.ide),
                                     direction(r.details.can.dir), "data", "0", "0", "0",
                                     std::to_string(r.data.size()), data_hex(r)});
}

// Candump logs hold CAN frames on interface can<channel - 1>; of an error
// frame the reader keeps the time only.
std::string log_expected(const BusRecord& r, double) {
    if (r.kind == BusRecordKind::CanErrorFrame) return line(r.timestamp, {"None", "0", "1", "Rx", "error", "0", "0", "0", "0", ""});
    if (!is_can_frame(r)) return "";
    const CanDetails& c = r.details.can;
    const bool data = r.kind == BusRecordKind::CanDataFrame;
    return line(r.timestamp, {"can" + std::to_string(r.bus_channel - 1), hex(r.id), flag(c.ide), direction(c.dir),
                              data ? "data" : "remote", flag(data && c.edl), flag(data && c.brs), flag(data && c.esi),
                              std::to_string(data ? r.data.size() : std::min<size_t>(c.dlc, 8)), data ? data_hex(r) : ""});
}

// CSV holds every record; "-" for an empty field.
std::string csv_expected(const BusRecord& r, double) {
    static const char* const kKinds[] = {"", "data", "remote", "error", "lin", "lin checksum error",
                                         "lin receive error", "lin transmission error", "lin sync error"};
    const bool can = is_can_frame(r), error = r.kind == BusRecordKind::CanErrorFrame;
    const bool lin_frame = r.kind == BusRecordKind::LinFrame || r.kind == BusRecordKind::LinChecksumError;
    const bool has_id = !error && r.kind != BusRecordKind::LinSyncError;
    const CanDetails& c = r.details.can;
    return line(r.timestamp,
                {std::to_string(error ? r.details.error.bus_channel : r.bus_channel), has_id ? hex(r.id) : "-",
                 can ? flag(c.ide) : "-", can ? direction(c.dir) : lin_frame ? direction(r.details.lin.dir) : "-",
                 kKinds[static_cast<size_t>(r.kind)], can ? flag(c.edl) : "-", can ? flag(c.brs) : "-",
                 can ? flag(c.esi) : "-", std::to_string(r.data.size()),
                 r.kind == BusRecordKind::CanRemoteFrame ? "" : data_hex(r)});
}

// A CAN frame as python-can's ASC and BLF readers give it: channel numbers
// one lower, the DLC of classic frames as logged.
std::string vector_frame(const BusRecord& r, bool empty_fd_reads_as_remote) {
    if (!is_can_frame(r)) return "";
    const CanDetails& c = r.details.can;
    const bool data = r.kind == BusRecordKind::CanDataFrame;
    const bool remote = !data || (empty_fd_reads_as_remote && c.edl && r.data.empty());
    return line(r.timestamp, {std::to_string(r.bus_channel - 1), hex(r.id), flag(c.ide), direction(c.dir),
                              remote ? "remote" : "data", flag(data && c.edl), flag(data && c.brs), flag(data && c.esi),
                              std::to_string(data && c.edl ? r.data.size() : c.dlc), data ? data_hex(r) : ""});
}

std::string vector_error_frame(const BusRecord& r, const char* extended) {
    return line(r.timestamp, {std::to_string(r.details.error.bus_channel - 1), "0", extended, "Rx", "error", "0", "0",
                              "0", "0", ""});
}

// ASCII traces hold every record; python-can reads the CAN frames, takes a CAN
// FD line without data bytes for a remote frame and error frames for extended ones.
std::string asc_expected(const BusRecord& r, double) {
    return r.kind == BusRecordKind::CanErrorFrame ? vector_error_frame(r, "1") : vector_frame(r, true);
}

// Binary logs hold every record; python-can reads the CAN frames.
std::string blf_expected(const BusRecord& r, double) {
    return r.kind == BusRecordKind::CanErrorFrame ? vector_error_frame(r, "0") : vector_frame(r, false);
}

struct Format {
    const char* name;     // for -F
    const char* suffix;   // after the output stem
    const char* reader;   // python-can class, or "csv"
    Expectation expected;
};
// One row per format.
const Format kFormats[] = {
    {"trc", "_CAN.trc", "TRCReader", trc_expected},
    {"asc", ".asc", "ASCReader", asc_expected},
    {"blf", ".blf", "BLFReader", blf_expected},
    {"log", ".log", "CanutilsLogReader", log_expected},
    {"csv", ".csv", "csv", csv_expected},
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `command`: its standard output, and the exit status in `status`.
std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

class FormatReadback : public ::testing::Test {
protected:
    void SetUp() override {
        int status = -1;
        run(std::string(kPython) + " -c 'import can' 2>/dev/null", status);
        if (status != 0) GTEST_SKIP() << kPython << " with python-can (Debian's python3-can) is needed to read the outputs back";
        // The generator's mix of every kind, and a group of the flags it leaves out.
        tools::GeneratorOptions options;
        options.frames = 1000;
        options.data_groups = 2;
        options.mix = {.classic = 40, .fd = 20, .remote = 10, .error = 10, .lin = 10, .lin_errors = 10};
        tools::FileSpec spec = tools::generate_log(options);
        tools::BusDataGroup extra(1);
        const size_t fd = extra.add_group(tools::BusGroupKind::CanDataFrame, {.payload_capacity = 64});
        const size_t remote = extra.add_group(tools::BusGroupKind::CanRemoteFrame);
        extra.add(fd, tools::CanFrame{.time = 0.1, .bus = 3, .id = 0x1ABCDEF, .ide = true, .dir = true, .edl = true,
                                      .esi = true, .data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
        extra.add(remote, tools::CanRemoteFrame{.time = 0.2, .bus = 2, .id = 0x18FEF100, .ide = true, .dir = true, .dlc = 8});
        spec.data_groups.push_back(extra.take());
        bytes = tools::write_mdf(spec).bytes;
        input = dir / "card.mf4";
        ASSERT_TRUE(tools::write_bytes(input, bytes));
        std::ofstream(dir / "read_back.py") << kReadBack;
        records = records_of(bytes);
        ASSERT_GT(records.size(), 1000u);
    }

    static std::vector<BusRecord> records_of(const std::vector<uint8_t>& bytes) {
        std::vector<BusRecord> all;
        auto stream = memory_stream_from(bytes.data(), bytes.size());
        MdfFilePtr file = open_mdf(stream.get());
        if (!file) return all;
        RecordIteratorPtr it = begin_records(*file);
        for (const BusRecord* r = it ? current(*it) : nullptr; r; r = current(*it)) {
            all.push_back(*r);
            next_record(*it);
        }
        if (it) end_records(std::move(it));
        return all;
    }

    // Converts the input into a fresh output folder; the report's lines.
    std::vector<nlohmann::json> convert(const std::string& formats, const std::string& extra = "") {
        const std::string out = dir / ("out-" + formats);
        fs::create_directories(out);
        int status = -1;
        const std::string report = run("'" TRACEMILL_BINARY "' --non-interactive --report=- -F " + formats + " " + extra +
                                           " -O '" + out + "' '" + input + "' 2>'" + (dir / "log") + "'",
                                       status);
        EXPECT_EQ(status, 0) << formats;
        std::vector<nlohmann::json> lines;
        std::istringstream in(report);
        for (std::string text; std::getline(in, text);) lines.push_back(nlohmann::json::parse(text));
        return lines;
    }

    TempDir dir;
    std::string input;
    std::vector<uint8_t> bytes;
    std::vector<BusRecord> records;
};

TEST_F(FormatReadback, EveryRecordAFormatHoldsComesBackIdentical) {
    std::string all;
    for (const Format& format : kFormats) all += std::string(all.empty() ? "" : ",") + format.name;
    const std::vector<nlohmann::json> report = convert(all, "--reserved-column");
    ASSERT_EQ(report.size(), 2u);
    double base = 0;
    for (const BusRecord& r : records)
        if (is_can_frame(r)) {
            base = r.timestamp;
            break;
        }
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        const std::string path = dir / ("out-" + all + "/card" + format.suffix);
        ASSERT_TRUE(fs::exists(path));
        std::vector<std::string> expected;
        for (const BusRecord& r : records)
            if (std::string e = format.expected(r, base); !e.empty()) expected.push_back(e);
        int status = -1;
        std::istringstream out(
            run(std::string("TZ=UTC ") + kPython + " '" + (dir / "read_back.py") + "' " + format.reader + " '" + path + "' 2>&1", status));
        ASSERT_EQ(status, 0) << out.str();
        std::vector<std::string> got;
        for (std::string text; std::getline(out, text);) {
            if (text.starts_with("header|"))
                EXPECT_EQ(text, "header|time,epoch_seconds,bus,channel,id,extended,direction,kind,error_type,fd,brs,esi,"
                                "dlc,data_length,data");
            else
                got.push_back(text);
        }
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            // Times to the microsecond, which TRC offsets may round the other way.
            const size_t bar = got[i].find('|'), expected_bar = expected[i].find('|');
            EXPECT_EQ(got[i].substr(bar), expected[i].substr(expected_bar)) << "record " << i;
            EXPECT_LE(std::llabs(std::stoll(got[i].substr(0, bar)) - std::stoll(expected[i].substr(0, expected_bar))), 1)
                << got[i] << " vs " << expected[i];
        }
    }
    // Every record went into the csv table: none is passed over, and every output is listed.
    EXPECT_EQ(report[0]["records_passed_over"], (nlohmann::json{{"lin_frames", 0}, {"lin_errors", 0},
                                                                 {"can_error_frames", 0}, {"can_fd_frames", 0}}));
    // ... and counted as written, each of its kind.
    EXPECT_EQ(report[0]["frames"]["total"], records.size());
    EXPECT_EQ(report[0]["frames"]["can_error"],
              std::count_if(records.begin(), records.end(),
                            [](const BusRecord& r) { return r.kind == BusRecordKind::CanErrorFrame; }));
    EXPECT_EQ(report[0]["frames"]["lin"], std::count_if(records.begin(), records.end(), [](const BusRecord& r) {
                  return r.kind == BusRecordKind::LinFrame;
              }));
    EXPECT_EQ(report[0]["outputs"].size(), std::size(kFormats));
    EXPECT_EQ(report[1]["outputs"], std::size(kFormats));
    EXPECT_NE(read_file(dir / "log").find(" I Written: " + std::to_string(std::size(kFormats)) + " output file(s)\n"),
              std::string::npos);
}

// The report counts what no chosen format held, and -d deletes the input only
// when every record is in one of the files written.
TEST_F(FormatReadback, PassedOverRecordsAndDeletionFollowTheChosenFormats) {
    uint64_t lin_frames = 0, lin_errors = 0, error_frames = 0, fd_frames = 0;
    for (const BusRecord& r : records) {
        lin_frames += r.kind == BusRecordKind::LinFrame;
        lin_errors += r.kind >= BusRecordKind::LinChecksumError;
        error_frames += r.kind == BusRecordKind::CanErrorFrame;
        fd_frames += r.kind == BusRecordKind::CanDataFrame && r.details.can.edl;
    }
    struct Case {
        const char* formats;
        const char* extra;
        uint64_t lin_frames, lin_errors, error_frames, fd_frames;
        bool deleted;
        const char* kept;  // the reason given for keeping the input
    };
    const Case cases[] = {
        {"trc", "-f version1", lin_frames, lin_errors, error_frames, fd_frames, false, "its trace has no notation"},
        {"trc,log", "-f version1", lin_frames, lin_errors, 0, 0, false, "none of its output formats has a notation"},
        {"log", "", lin_frames, lin_errors, 0, 0, false, "its trace has no notation"},
        {"trc,log,csv", "", 0, 0, 0, 0, true, nullptr},
        {"csv", "", 0, 0, 0, 0, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formats);
        ASSERT_TRUE(tools::write_bytes(input, bytes));
        const std::vector<nlohmann::json> report = convert(c.formats, std::string(c.extra) + " -d");
        ASSERT_EQ(report.size(), 2u);
        EXPECT_EQ(report[0]["records_passed_over"],
                  (nlohmann::json{{"lin_frames", c.lin_frames}, {"lin_errors", c.lin_errors},
                                  {"can_error_frames", c.error_frames}, {"can_fd_frames", c.fd_frames}}));
        EXPECT_EQ(report[0]["deleted"], c.deleted);
        if (c.kept) {
            ASSERT_EQ(report[0]["kept_because"].size(), 1u);
            EXPECT_NE(report[0]["kept_because"][0].get<std::string>().find(c.kept), std::string::npos);
        }
        EXPECT_EQ(fs::exists(input), !c.deleted);
    }
}

}  // namespace
}  // namespace tracemill
