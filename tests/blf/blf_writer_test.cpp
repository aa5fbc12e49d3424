// The binary log writer as an output sink: each record kind as its object,
// the header completed at the end, containers that zlib inflates, files
// through several containers and none without objects, and what python-can
// reads back.
#include "blf/blf_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blf/blf_format.h"
#include "driver/output_file.h"
#include "temp_dir.h"
#include "trc/memory_output_root.h"

namespace tracemill {
namespace {

constexpr double kStart = 1'709'644'455.6875;  // 2024-03-05 13:14:15.6875 UTC, a Tuesday
constexpr double kStep = 1.0 / 64;               // 15 625 000 ns, exact in a double

uint64_t get(const std::string& bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return value;
}

// A binary log taken apart: the header, and the objects of every container.
struct BlfFile {
    std::string header;
    std::vector<std::string> objects;  // each from its signature on
    size_t containers = 0;
    uint64_t inflated_size = 0;  // container objects counted as if stored
    std::string error;

    explicit BlfFile(const std::string& file) {
        if (const char* failure = parse(file)) error = failure;
    }
    // What is wrong with `file`; null when it parses.
    const char* parse(const std::string& file) {
        if (file.size() < 144) return "short file";
        header = file.substr(0, 144);
        std::string stream;
        for (size_t at = 144; at < file.size();) {
            if (file.compare(at, 4, "LOBJ") != 0 || get(file, at + 12, 4) != 10) return "not a container";
            const size_t size = get(file, at + 8, 4);
            if (get(file, at + 16, 2) != 2) return "not deflated";
            std::string inflated(get(file, at + 24, 4), '\0');
            uLongf length = inflated.size();
            if (uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                           reinterpret_cast<const Bytef*>(file.data() + at + 32), size - 32) != Z_OK ||
                length != inflated.size())
                return "container does not inflate";
            stream += inflated;
            inflated_size += 32 + inflated.size();
            ++containers;
            at += size + size % 4;
        }
        for (size_t at = 0; at < stream.size();) {
            const size_t size = get(stream, at + 8, 4);
            if (stream.compare(at, 4, "LOBJ") != 0 || get(stream, at + 4, 2) != 32 || size % 4 != 0)
                return "bad object header";
            objects.push_back(stream.substr(at, size));
            at += size;
        }
        return nullptr;
    }
    // The SYSTEMTIME at `at`: year, month, day of week, day, hour, minute, second, millisecond.
    std::vector<uint64_t> time(size_t at) const {
        std::vector<uint64_t> fields;
        for (size_t i = 0; i < 8; ++i) fields.push_back(get(header, at + 2 * i, 2));
        return fields;
    }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

BusRecord can(BusRecordKind kind, uint8_t channel, uint32_t id, CanDetails details, std::vector<uint8_t> data = {}) {
    BusRecord r;
    r.kind = kind;
    r.bus_channel = channel;
    r.id = id;
    r.details.can = details;
    r.data = std::move(data);
    return r;
}
BusRecord can_error(uint8_t channel, uint32_t type) {
    BusRecord r;
    r.kind = BusRecordKind::CanErrorFrame;
    r.details.error = {channel, type};
    return r;
}
BusRecord lin(BusRecordKind kind, uint8_t channel, uint32_t id, uint8_t dir = 0, std::vector<uint8_t> data = {}) {
    BusRecord r;
    r.kind = kind;
    r.bus_channel = channel;
    r.id = id;
    r.details.lin = {dir, 0};
    r.data = std::move(data);
    return r;
}

const std::vector<uint8_t> kTwelve = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

class BlfWriterTest : public ::testing::Test {
protected:
    // Runs the records through `sink` as the input `stem`, one kStep apart from kStart.
    bool convert(OutputSink& sink, const std::string& stem, std::vector<BusRecord> records, double step = kStep) {
        FileInfo info;
        info.output_stem = stem;
        bool ok = sink.new_file(info, false);
        for (size_t i = 0; i < records.size(); ++i) {
            records[i].timestamp = kStart + static_cast<double>(i) * step;
            ok = sink.record(records[i]) && ok;
        }
        return sink.end_file(info) && ok;
    }
    TempDir temp;
    std::unique_ptr<FileSystemRoot> root = local_root_new(temp.path());
};

// Each record kind becomes its object; `fields` are (offset after the object
// header, width in bytes, value).
TEST_F(BlfWriterTest, EachRecordBecomesItsObject) {
    //                       ide dir edl esi brs rtr dlc
    constexpr CanDetails kClassicTx{0, 1, 0, 0, 0, 0, 3};
    constexpr CanDetails kRemoteExt{1, 0, 0, 0, 0, 1, 8};
    constexpr CanDetails kFd{0, 0, 1, 1, 1, 0, 9};
    constexpr CanDetails kFdShortTx{1, 1, 1, 0, 0, 0, 5};
    struct Field {
        size_t at, width;
        uint64_t value;
    };
    struct Case {
        const char* name;
        BusRecord record;
        uint32_t type;
        size_t size;
        std::vector<Field> fields;
    };
    const std::vector<Case> cases = {
        {"classic data frame", can(BusRecordKind::CanDataFrame, 2, 0x123, kClassicTx, {0xA1, 0xB2, 0xC3}), 86, 56,
         {{0, 2, 2}, {2, 1, 0x01}, {3, 1, 3}, {4, 4, 0x123}, {8, 4, 0x00C3B2A1}, {12, 4, 0}}},
        {"extended remote frame", can(BusRecordKind::CanRemoteFrame, 1, 0x1ABCDEF, kRemoteExt, {0, 0, 0, 0, 0, 0, 0, 0}),
         86, 56, {{0, 2, 1}, {2, 1, 0x80}, {3, 1, 8}, {4, 4, 0x81ABCDEF}}},
        {"FD frame with BRS and ESI", can(BusRecordKind::CanDataFrame, 3, 0x7FF, kFd, kTwelve), 101, 84,
         {{0, 1, 3}, {1, 1, 9}, {2, 1, 12}, {4, 4, 0x7FF}, {12, 4, 0x7000}, {34, 1, 0}, {40, 4, 0x04030201},
          {48, 4, 0x0C0B0A09}}},
        {"FD frame, data filled to 4 bytes", can(BusRecordKind::CanDataFrame, 1, 0x10, kFdShortTx, {9, 8, 7, 6, 5}), 101,
         80, {{2, 1, 5}, {4, 4, 0x80000010}, {12, 4, 0x1000}, {34, 1, 1}, {40, 4, 0x06070809}, {44, 4, 0x05}}},
        {"classic frame of 12 bytes", can(BusRecordKind::CanDataFrame, 1, 0x5, kClassicTx, kTwelve), 101, 84,
         {{1, 1, 3}, {2, 1, 12}, {12, 4, 0}, {34, 1, 1}, {48, 4, 0x0C0B0A09}}},
        {"stuff error", can_error(2, 3), 73, 64, {{0, 2, 2}, {4, 4, 2}, {20, 2, 0x2080}, {16, 4, 0}}},
        {"acknowledgement error", can_error(1, 5), 73, 64, {{0, 2, 1}, {4, 4, 2}, {20, 2, 0x01C0}}},
        {"error of unknown type", can_error(4, 0), 73, 64, {{0, 2, 4}, {4, 4, 0}, {20, 2, 0}}},
        {"LIN frame", lin(BusRecordKind::LinFrame, 1, 0x21, 1, {0xAA, 0xBB}), 11, 56,
         {{0, 2, 1}, {2, 1, 0x21}, {3, 1, 2}, {4, 2, 0xBBAA}, {18, 1, 1}}},
        {"LIN checksum error", lin(BusRecordKind::LinChecksumError, 2, 0x3C, 0, {1}), 12, 56,
         {{0, 2, 2}, {2, 1, 0x3C}, {3, 1, 1}, {4, 1, 1}, {18, 1, 0}}},
        {"LIN receive error", lin(BusRecordKind::LinReceiveError, 1, 0x10), 14, 48, {{0, 2, 1}, {2, 1, 0x10}}},
        {"LIN transmission error", lin(BusRecordKind::LinTransmissionError, 2, 0x11), 15, 40, {{0, 2, 2}, {2, 1, 0x11}}},
        {"LIN sync error", lin(BusRecordKind::LinSyncError, 3, 0), 18, 48, {{0, 2, 3}}},
    };
    auto sink = blf_writer_new(root.get(), 6, false);
    ASSERT_NE(sink, nullptr);
    std::vector<BusRecord> records;
    for (const Case& c : cases) records.push_back(c.record);
    ASSERT_TRUE(convert(*sink, "logs/a", records));

    const std::string bytes = read_file(temp / "logs/a.blf");
    const BlfFile file(bytes);
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.header.substr(0, 4), "LOGG");
    EXPECT_EQ(get(file.header, 4, 4), 144u);
    EXPECT_EQ(get(file.header, 16, 8), bytes.size());
    EXPECT_EQ(get(file.header, 24, 8), 144 + file.inflated_size);
    EXPECT_EQ(get(file.header, 32, 4), cases.size());
    EXPECT_EQ(file.time(40), (std::vector<uint64_t>{2024, 3, 2, 5, 13, 14, 15, 687}));
    EXPECT_EQ(file.time(56), (std::vector<uint64_t>{2024, 3, 2, 5, 13, 14, 15, 875}));  // the last record
    EXPECT_EQ(file.containers, 1u);
    ASSERT_EQ(file.objects.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string& object = file.objects[i];
        EXPECT_EQ(get(object, 12, 4), c.type) << c.name;
        EXPECT_EQ(object.size(), c.size) << c.name;
        EXPECT_EQ(get(object, 16, 4), 2u) << c.name;  // nanosecond timestamps
        // From the start time cut to the millisecond: 0.5 ms before the first record.
        EXPECT_EQ(get(object, 24, 8), 500'000 + i * 15'625'000) << c.name;
        for (const Field& f : c.fields) EXPECT_EQ(get(object, 32 + f.at, f.width), f.value) << c.name << " at " << f.at;
    }
    const FileOutcome outcome = sink->outcome();
    EXPECT_EQ(outcome.output_path, "logs/a.blf");
    EXPECT_EQ(outcome.bytes_written, bytes.size());
    EXPECT_EQ(outcome.written.can_frames, 2u);
    EXPECT_EQ(outcome.written.can_remote_frames, 1u);
    EXPECT_EQ(outcome.written.can_fd_frames, 2u);
    EXPECT_EQ(outcome.passed_over.total(), 0u);
}

// Inputs one after another through one sink: each its own file and counts,
// large ones through several containers and past the output buffer (so the
// header is completed in the file), none without an object.
TEST_F(BlfWriterTest, FilesHoldTheirInputsObjectsOnly) {
    struct Case {
        const char* stem;
        int level;
        int threads;          // deflating beside the caller
        size_t frames;        // classic frames
        size_t unsupported;   // records of no known kind
        size_t containers;    // 0: no file
    };
    const std::vector<Case> cases = {
        {"stored", 0, 2, 6000, 0, 3},
        {"small", 1, 1, 3, 2, 1},
        {"nothing", 1, 0, 0, 4, 0},
        {"smallest", 9, 0, 6000, 0, 3},
        {"many containers, few threads", 1, 1, 20000, 0, 9},
    };
    for (const Case& c : cases) {
        auto sink = blf_writer_new(root.get(), c.level, true, c.threads);
        ASSERT_NE(sink, nullptr);
        std::vector<BusRecord> records;
        for (size_t i = 0; i < c.unsupported; ++i) records.push_back(BusRecord{});
        for (size_t i = 0; i < c.frames; ++i)
            records.push_back(can(BusRecordKind::CanDataFrame, 1, static_cast<uint32_t>(i & 0x7FF),
                                  CanDetails{0, 0, 0, 0, 0, 0, 8},
                                  {uint8_t(i), uint8_t(i >> 8), 3, 4, 5, 6, 7, uint8_t(i * 7)}));
        ASSERT_TRUE(convert(*sink, c.stem, records)) << c.stem;
        const FileOutcome outcome = sink->outcome();
        EXPECT_TRUE(outcome.durable) << c.stem;
        const std::string bytes = read_file(temp / (std::string(c.stem) + ".blf"));
        if (c.containers == 0) {
            EXPECT_EQ(bytes, "") << c.stem;
            EXPECT_EQ(outcome.output_path, "") << c.stem;
            continue;
        }
        const BlfFile file(bytes);
        ASSERT_EQ(file.error, "") << c.stem;
        EXPECT_EQ(file.containers, c.containers) << c.stem;
        EXPECT_EQ(get(file.header, 16, 8), bytes.size()) << c.stem;
        EXPECT_EQ(get(file.header, 32, 4), c.frames) << c.stem;
        ASSERT_EQ(file.objects.size(), c.frames) << c.stem;
        EXPECT_EQ(file.objects.back().substr(40, 8), std::string(records.back().data.begin(), records.back().data.end()))
            << c.stem;
        EXPECT_EQ(outcome.written.can_frames, c.frames) << c.stem;
        EXPECT_EQ(outcome.bytes_written, bytes.size()) << c.stem;
    }
}

// Debian's interpreter, which the python3-can package serves.
constexpr const char* kPython = "/usr/bin/python3";

// One line per message python-can reads: timestamp, then identifier, flags,
// direction, channel, DLC (a length for FD frames) and data as
// "expected_line" writes them. python-can keeps no data of remote frames.
constexpr char kReadBack[] =
    "import sys, can\n"
    "for m in can.BLFReader(sys.argv[1]):\n"
    "    print('%.9f %x ext=%d rtr=%d err=%d fd=%d brs=%d esi=%d rx=%d ch=%d dlc=%d %s' % (m.timestamp,\n"
    "          m.arbitration_id, m.is_extended_id, m.is_remote_frame, m.is_error_frame, m.is_fd,\n"
    "          m.bitrate_switch, m.error_state_indicator, m.is_rx, m.channel, m.dlc, m.data.hex()))\n";

std::string expected_line(const BusRecord& r) {
    const bool error = r.kind == BusRecordKind::CanErrorFrame;
    const CanDetails can = error ? CanDetails{} : r.details.can;
    std::string hex;
    for (uint8_t b : can.rtr ? std::vector<uint8_t>{} : r.data) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    char line[256];
    std::snprintf(line, sizeof line, "%x ext=%d rtr=%d err=%d fd=%d brs=%d esi=%d rx=%d ch=%d dlc=%zu %s", error ? 0 : r.id,
                  can.ide, can.rtr, error, can.edl, can.brs, can.esi, !can.dir,
                  (error ? r.details.error.bus_channel : r.bus_channel) - 1,
                  error ? 0 : can.edl ? r.data.size() : size_t{can.dlc}, hex.c_str());
    return line;
}

TEST_F(BlfWriterTest, PythonCanReadsEveryCanFrameBack) {
    if (std::system((std::string(kPython) + " -c 'import can' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "python-can is missing (install python3 and python3-can) to read the binary log back";
    //                     ide dir edl esi brs rtr dlc
    const std::vector<BusRecord> frames = {
        can(BusRecordKind::CanDataFrame, 1, 0x123, {0, 0, 0, 0, 0, 0, 8}, {1, 2, 3, 4, 5, 6, 7, 8}),
        can(BusRecordKind::CanDataFrame, 2, 0x18FEF100, {1, 1, 0, 0, 0, 0, 2}, {0xDE, 0xAD}),
        can(BusRecordKind::CanRemoteFrame, 1, 0x7FF, {0, 0, 0, 0, 0, 1, 4}, {0, 0, 0, 0}),
        lin(BusRecordKind::LinFrame, 1, 0x21, 0, {1}),  // not read by python-can: skipped over
        can(BusRecordKind::CanDataFrame, 3, 0x1ABCDEF, {1, 1, 1, 1, 1, 0, 13}, std::vector<uint8_t>(32, 0x5A)),
        can(BusRecordKind::CanDataFrame, 1, 0x42, {0, 0, 1, 0, 0, 0, 5}, {1, 2, 3, 4, 5}),
        can_error(2, 1),
    };
    auto sink = blf_writer_new(root.get(), 1, false);
    ASSERT_NE(sink, nullptr);
    constexpr double kOddStep = 0.0123456789;  // far from whole nanoseconds
    ASSERT_TRUE(convert(*sink, "readback", frames, kOddStep));

    // python-can takes the header's start time as local time.
    const std::string command =
        "TZ=UTC " + std::string(kPython) + " -c \"" + kReadBack + "\" " + temp / "readback.blf" + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) lines.emplace_back(line, std::strcspn(line, "\n"));
    ASSERT_EQ(pclose(pipe), 0) << (lines.empty() ? "" : lines.back());

    size_t next = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].kind == BusRecordKind::LinFrame) continue;
        ASSERT_LT(next, lines.size()) << "frame " << i << " missing";
        double timestamp = 0;
        int prefix = 0;
        ASSERT_EQ(std::sscanf(lines[next].c_str(), "%lf %n", &timestamp, &prefix), 1) << lines[next];
        EXPECT_NEAR(timestamp, kStart + static_cast<double>(i) * kOddStep, 1e-6) << "frame " << i;
        EXPECT_EQ(lines[next].substr(static_cast<size_t>(prefix)), expected_line(frames[i])) << "frame " << i;
        ++next;
    }
    EXPECT_EQ(next, lines.size());
}

// A file that cannot be created, written or completed is never published.
TEST_F(BlfWriterTest, FailedFilesAreDiscarded) {
    struct Case {
        const char* name;
        bool fail_create;
        int64_t write_budget;
        size_t frames;
        const char* message;
    };
    // Stored frames of several write buffers: the bytes go to the file before
    // the end, and a failed write is known while the frames are still coming.
    constexpr size_t kMidFile = 3 * OutputFile::kBufferSize / 40;
    const std::vector<Case> cases = {
        {"file cannot be created", true, -1, 10, "Could not open output file for BLF: f.blf"},
        {"writes come up short", false, 1000, kMidFile, "Could not write BLF data"},
        // This root cannot rewrite what is in its files.
        {"header cannot be rewritten in the file", false, -1, kMidFile, "Could not write BLF header"},
    };
    for (const Case& c : cases) {
        testing::MemoryOutputRoot memory;
        memory.fail_create = c.fail_create;
        memory.write_budget = c.write_budget;
        auto sink = blf_writer_new(&memory, 0, false, 1);
        ASSERT_NE(sink, nullptr);
        std::vector<BusRecord> records(c.frames, can(BusRecordKind::CanDataFrame, 1, 0x1, {0, 0, 0, 0, 0, 0, 1}, {7}));
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(convert(*sink, "f", records)) << c.name;
        EXPECT_NE(::testing::internal::GetCapturedStderr().find(c.message), std::string::npos) << c.name;
        EXPECT_TRUE(memory.files.empty()) << c.name;
        EXPECT_EQ(memory.staged_open, 0) << c.name;
        EXPECT_FALSE(sink->outcome().durable) << c.name;
        EXPECT_EQ(sink->outcome().output_path, "") << c.name;
        // The sink goes on with the next input.
        memory.fail_create = false;
        memory.write_budget = -1;
        EXPECT_TRUE(convert(*sink, "g", {records.front()})) << c.name;
        EXPECT_EQ(memory.files.count("g.blf"), 1u) << c.name;
    }
}

TEST(BlfFormat, LevelIsOneDigit) {
    const std::vector<std::pair<const char*, int>> cases = {{"0", 0}, {"1", 1}, {"9", 9}, {"10", -1},
                                                            {"", -1}, {"-1", -1}, {"a", -1}};
    for (const auto& [text, level] : cases) EXPECT_EQ(parse_blf_level(text), level) << text;
    TempDir temp;
    auto root = local_root_new(temp.path());
    EXPECT_EQ(blf_writer_new(root.get(), 10, false), nullptr);
    EXPECT_EQ(blf_writer_new(nullptr, 1, false), nullptr);
}

}  // namespace
}  // namespace tracemill
