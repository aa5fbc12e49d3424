// The converter as a process: log trees written in a temporary folder, the
// real binary run on them, and the whole output tree compared byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "container_writer.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kStart = 1'700'000'000'000'000'000ULL;  // ns


std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(tools::write_bytes(path, bytes)) << path;
}

// Every file below `folder` (relative path → content); folders that hold no file are not listed.
std::map<std::string, std::string> tree(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = read_file(entry.path());
    }
    return files;
}

// Trace files only, so that the inputs next to them do not get in the way.
std::map<std::string, std::string> traces(const std::string& folder) {
    std::map<std::string, std::string> files = tree(folder);
    std::erase_if(files, [](const auto& file) { return !file.first.ends_with(".trc"); });
    return files;
}

struct RunResult {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error: the log
};

// Runs the converter in `cwd` with `args` (already quoted where needed).
RunResult run_converter(const std::string& cwd, const std::string& args) {
    TempDir capture;
    std::string command = "cd '" + cwd + "' && '" TRACEMILL_BINARY "' " + args + " >'" + (capture / "out") +
                          "' 2>'" + (capture / "err") + "'";
    int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = read_file(capture / "out");
    result.err = read_file(capture / "err");
    return result;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

tools::LoggerProperties logger(const char* serial, uint32_t session = 1, uint32_t split = 1) {
    tools::LoggerProperties who;
    who.serial = serial;
    who.session = session;
    who.split = split;
    return who;
}

// Data frames with room for CAN FD payloads in the record.
tools::BusGroupOptions fd_capable() {
    tools::BusGroupOptions options;
    options.payload_capacity = 64;
    return options;
}

std::vector<uint8_t> fd_payload() {
    std::vector<uint8_t> bytes(12);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 0x11);
    return bytes;
}

// A data frame, an extended remote frame and a CAN FD frame in one data
// group: all of it goes into a 2.1 trace. `with_others` adds an error frame
// and a LIN frame, in two more data groups: the standard test log.
std::vector<uint8_t> standard_log(const tools::LoggerProperties& who, bool with_others = true) {
    tools::FileSpec spec = tools::logger_file(who, kStart);
    tools::BusDataGroup can(1);
    size_t data = can.add_group(tools::BusGroupKind::CanDataFrame, fd_capable());
    size_t remote = can.add_group(tools::BusGroupKind::CanRemoteFrame);
    can.add(data, tools::CanFrame{.time = 0.5, .id = 0x123, .data = {0x01, 0x02}});
    can.add(remote, tools::CanRemoteFrame{.time = 0.75, .id = 0x18FEF100, .ide = true, .dir = true, .dlc = 8});
    can.add(data, tools::CanFrame{.time = 1.0, .bus = 2, .id = 0x456, .edl = true, .brs = true, .data = fd_payload()});
    spec.data_groups.push_back(can.take());
    if (with_others) {
        tools::BusDataGroup errors;
        errors.add(errors.add_group(tools::BusGroupKind::CanErrorFrame),
                   tools::CanErrorFrame{.time = 1.1, .error_type = 2});
        spec.data_groups.push_back(errors.take());
        tools::BusDataGroup lin;
        lin.add(lin.add_group(tools::BusGroupKind::LinFrame), tools::LinFrame{.time = 1.2, .id = 0x21, .data = {9, 8}});
        spec.data_groups.push_back(lin.take());
    }
    return tools::write_mdf(spec).bytes;
}

std::vector<uint8_t> can_only_log(const tools::LoggerProperties& who) { return standard_log(who, false); }

// What the converter makes of standard_log (and can_only_log) in either version.
const std::string kStandardTrace21 =
    ";$FILEVERSION=2.1\n"
    ";$STARTTIME=45244.9259317130\n"
    ";$COLUMNS=N,O,T,B,I,d,L,D\n"
    "      1         0.000 DT 1     0123 Rx 2    01 02\n"
    "      2       250.000 RR 1 18FEF100 Tx 8    \n"
    "      3       500.000 FB 2     0456 Rx 9    00 11 22 33 44 55 66 77 88 99 AA BB\n";
const std::string kStandardTrace11 =
    ";$FILEVERSION=1.1\n"
    ";$STARTTIME=45244.9259317130\n"
    "     1)         0.0 Rx        0123 2  01 02\n"
    "     2)       250.0 Tx    18FEF100 8  RTR\n";

// A log holding frames that no trace version writes (errors and LIN), or only
// CAN FD frames, which version 1.1 leaves out.
std::vector<uint8_t> log_without_classic_frames(const tools::LoggerProperties& who, bool with_fd) {
    tools::FileSpec spec = tools::logger_file(who, kStart);
    tools::BusDataGroup group(1);
    size_t errors = group.add_group(tools::BusGroupKind::CanErrorFrame);
    size_t lin = group.add_group(tools::BusGroupKind::LinFrame);
    group.add(errors, tools::CanErrorFrame{.time = 0.1});
    group.add(lin, tools::LinFrame{.time = 0.2, .id = 1, .data = {1}});
    if (with_fd) {
        size_t fd = group.add_group(tools::BusGroupKind::CanDataFrame, fd_capable());
        group.add(fd, tools::CanFrame{.time = 0.3, .id = 0x7, .edl = true, .esi = true, .data = {1, 2}});
    }
    spec.data_groups.push_back(group.take());
    return tools::write_mdf(spec).bytes;
}

std::vector<uint8_t> compressed(const std::vector<uint8_t>& content) {
    return tools::write_compressed_container(content.data(), content.size(), {});
}

std::vector<uint8_t> encrypted(const std::vector<uint8_t>& content, const char* password, uint32_t device_id) {
    tools::EncryptOptions options;
    options.password = password;
    options.device_id = device_id;
    options.iterations = 10;
    return tools::write_encrypted_container(content.data(), content.size(), options);
}

// A log without the logger identity in its header.
std::vector<uint8_t> log_without_identity() {
    tools::FileSpec spec = tools::logger_file(logger("0000AAAA"), kStart);
    spec.header.comment.text = "<HDcomment><common_properties></common_properties></HDcomment>";
    return tools::write_mdf(spec).bytes;
}

class ConvertE2eTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(ConvertE2eTest, FolderTreeIsMirroredUnderOutFolders) {
    put_file(dir / "logs/run1/10.MF4", standard_log(logger("00000001")));
    put_file(dir / "logs/run1/B.MF4", standard_log(logger("00000002")));
    put_file(dir / "logs/run1/a.mf4", standard_log(logger("00000003")));
    put_file(dir / "logs/run1/deep/er/c.mf4", standard_log(logger("00000004")));
    put_file(dir / "logs/top.mf4", standard_log(logger("00000005")));

    RunResult run = run_converter(dir.path(), "logs/run1 " + (dir / "logs/top.mf4"));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::map<std::string, std::string> expected = {
        {"run1_out/10_CAN.trc", kStandardTrace21},        {"run1_out/B_CAN.trc", kStandardTrace21},
        {"run1_out/a_CAN.trc", kStandardTrace21},         {"run1_out/deep/er/c_CAN.trc", kStandardTrace21},
        {"top_CAN.trc", kStandardTrace21},
    };
    EXPECT_EQ(traces(dir / "logs"), expected);
}

TEST_F(ConvertE2eTest, NoAppendRootAndOutputFolder) {
    put_file(dir / "in/run1/a.mf4", standard_log(logger("00000001")));
    fs::create_directories(dir / "elsewhere");
    RunResult run = run_converter(dir.path(), "-X -O elsewhere in/run1/");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(tree(dir / "elsewhere"), (std::map<std::string, std::string>{{"run1/a_CAN.trc", kStandardTrace21}}));
    EXPECT_TRUE(traces(dir / "in").empty());

    // Absolute paths for both, with "_out" this time.
    run = run_converter("/", "-O " + (dir / "elsewhere") + " " + (dir / "in/run1"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(tree(dir / "elsewhere"), (std::map<std::string, std::string>{{"run1/a_CAN.trc", kStandardTrace21},
                                                                            {"run1_out/a_CAN.trc", kStandardTrace21}}));
}

// Files are taken in byte order of their names: the order shows in the log.
TEST_F(ConvertE2eTest, WalkOrderIsByteOrder) {
    for (const char* name : {"a.mf4", "B.MF4", "10.MF4", "sub/x.mf4"}) put_file(dir / "w/" + name, log_without_identity());
    RunResult run = run_converter(dir.path(), "w");
    EXPECT_EQ(run.status, 8);
    std::vector<size_t> positions;
    for (const char* name : {"w/10.MF4", "w/B.MF4", "w/a.mf4", "w/sub/x.mf4"}) {
        positions.push_back(run.err.find(std::string("Error during conversion of ") + name));
        EXPECT_NE(positions.back(), std::string::npos) << name << "\n" << run.err;
    }
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << run.err;
    EXPECT_TRUE(contains(run.err, "Could not parse file header"));
}

TEST_F(ConvertE2eTest, ExtensionsInAnyCaseAndNothingElse) {
    std::vector<uint8_t> log = standard_log(logger("00000001"));
    put_file(dir / "x/plain.mF4", standard_log(logger("00000001")));
    put_file(dir / "x/packed.MFC", compressed(standard_log(logger("00000002"))));
    put_file(dir / "x/sealed.mfE", encrypted(standard_log(logger("00000003")), "pw", 0xCAFE));
    put_file(dir / "x/both.Mfm", encrypted(compressed(standard_log(logger("00000004"))), "pw", 0xCAFE));
    for (const char* name : {"notes.txt", "MF4", "copy.mf4.bak", "x.mf", "y.mf44"}) put_file(dir / "x/" + name, log);
    put_file(dir / "passwords.json", std::vector<uint8_t>{'{', '"', 'd', 'e', 'f', 'a', 'u', 'l', 't', '"', ':', '"',
                                                          'p', 'w', '"', '}'});

    RunResult run = run_converter(dir.path(), "x/");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "1 password(s) loaded")) << run.err;
    const std::map<std::string, std::string> expected = {
        {"x_out/plain_CAN.trc", kStandardTrace21},
        {"x_out/packed_CAN.trc", kStandardTrace21},
        {"x_out/sealed_CAN.trc", kStandardTrace21},
        {"x_out/both_CAN.trc", kStandardTrace21},
    };
    EXPECT_EQ(traces(dir.path()), expected);
}

TEST_F(ConvertE2eTest, PasswordsByDeviceId) {
    put_file(dir / "p/a.mfe", encrypted(standard_log(logger("00000001")), "upper", 0x00ABCDEF));
    put_file(dir / "p/b.mfe", encrypted(standard_log(logger("00000002")), "lower", 0x00FEDCBA));
    const std::string keys = "{\"00ABCDEF\": \"upper\", \"00fedcba\": \"lower\"}";
    put_file(dir / "keys.json", std::vector<uint8_t>(keys.begin(), keys.end()));

    RunResult run = run_converter(dir.path(), "-p keys.json p");
    // Keys are matched in upper case only: b's lower-case entry is never found.
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(contains(run.err, "No password found for device 00FEDCBA")) << run.err;
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"p_out/a_CAN.trc", kStandardTrace21}}));

    run = run_converter(dir.path(), "-p missing.json p");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "Failed to open password file at")) << run.err;
}

TEST_F(ConvertE2eTest, DuplicateKeysAndEmptyPasswords) {
    put_file(dir / "q/own.mfe", encrypted(standard_log(logger("00000001")), "first", 0x0000ABCD));
    put_file(dir / "q/fallback.mfe", encrypted(standard_log(logger("00000002")), "", 0x00001234));
    const std::string keys = "{\"0000ABCD\": \"first\",\n \"0000ABCD\": \"second\",\n \"default\": \"\"}";
    put_file(dir / "passwords.json", std::vector<uint8_t>(keys.begin(), keys.end()));

    RunResult run = run_converter(dir.path(), "q");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "2 password(s) loaded")) << run.err;
    const std::string warning = "Failed to insert key for \"0000ABCD\" in password storage";
    EXPECT_TRUE(contains(run.err, warning)) << run.err;
    EXPECT_EQ(run.err.find(warning), run.err.rfind(warning)) << run.err;
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"q_out/fallback_CAN.trc", kStandardTrace21},
                                                                      {"q_out/own_CAN.trc", kStandardTrace21}}));
}

TEST_F(ConvertE2eTest, TraceVersion11) {
    put_file(dir / "v/std.mf4", standard_log(logger("00000001")));
    put_file(dir / "v/fd_only.mf4", log_without_classic_frames(logger("00000002"), true));
    put_file(dir / "v/quiet.mf4", log_without_classic_frames(logger("00000003"), false));
    for (const char* option : {"-f version1", "--trace-format=VERSION1"}) {
        fs::remove_all(dir / "v_out");
        RunResult run = run_converter(dir.path(), std::string(option) + " v");
        EXPECT_EQ(run.status, 0) << option << run.err;
        EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"v_out/std_CAN.trc", kStandardTrace11}}))
            << option;
    }
    // Version 2.1 keeps the FD-only file; files without CAN frames go in both.
    fs::remove_all(dir / "v_out");
    RunResult run = run_converter(dir.path(), "-f version2 v");
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> files = traces(dir.path());
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(files["v_out/fd_only_CAN.trc"],
              ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259293981\n;$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 FE 1     0007 Rx 2    01 02\n");
}

// --reserved-column: every frame kind gets "-" in a column of its own between
// direction and length, each column at the same place on every line; the
// default layout of the same frames is the line without it.
TEST_F(ConvertE2eTest, ReservedColumnKeepsEveryColumnInPlace) {
    std::vector<uint8_t> long_payload(64);
    for (size_t i = 0; i < long_payload.size(); ++i) long_payload[i] = static_cast<uint8_t>(i);
    tools::FileSpec spec = tools::logger_file(logger("00000001"), kStart);
    tools::BusDataGroup group(1);
    const size_t data = group.add_group(tools::BusGroupKind::CanDataFrame, fd_capable());
    const size_t remote = group.add_group(tools::BusGroupKind::CanRemoteFrame);
    struct Case {
        const char* kind;
        const char* line;  // with the reserved column
    };
    const std::vector<Case> cases = {
        {"classic", "      1         0.000 DT 1     0123 Rx -  8    01 02 03 04 05 06 07 08\n"},
        {"extended id", "      2       100.000 DT 2 18FEF100 Tx -  2    AB CD\n"},
        {"remote", "      3       200.000 RR 1     07FF Rx -  4    \n"},
        {"FD", "      4       300.000 FB 1     0456 Rx -  9    00 11 22 33 44 55 66 77 88 99 AA BB\n"},
        {"long payload",
         "      5       400.000 FD 1 1A2B3C4D Rx -  15   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 "
         "13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 "
         "36 37 38 39 3A 3B 3C 3D 3E 3F\n"},
    };
    group.add(data, tools::CanFrame{.time = 0.0, .id = 0x123, .data = {1, 2, 3, 4, 5, 6, 7, 8}});
    group.add(data, tools::CanFrame{.time = 0.1, .bus = 2, .id = 0x18FEF100, .ide = true, .dir = true, .data = {0xAB, 0xCD}});
    group.add(remote, tools::CanRemoteFrame{.time = 0.2, .id = 0x7FF, .dlc = 4});
    group.add(data, tools::CanFrame{.time = 0.3, .id = 0x456, .edl = true, .brs = true, .data = fd_payload()});
    group.add(data, tools::CanFrame{.time = 0.4, .id = 0x1A2B3C4D, .ide = true, .edl = true, .data = long_payload});
    spec.data_groups.push_back(group.take());
    put_file(dir / "r/kinds.mf4", tools::write_mdf(spec).bytes);

    const std::string header_start = ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259259259\n";
    RunResult run = run_converter(dir.path(), "--reserved-column r");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string reserved = read_file(dir / "r_out/kinds_CAN.trc");
    fs::remove_all(dir / "r_out");
    run = run_converter(dir.path(), "r");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string plain = read_file(dir / "r_out/kinds_CAN.trc");

    std::string expected_reserved = header_start + ";$COLUMNS=N,O,T,B,I,d,R,L,D\n";
    std::string expected_plain = header_start + ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    constexpr size_t kReservedAt = 39;  // columns: N 0, O 8, T 22, B 25, I 27, d 36, R 39, L 42, D 47
    for (const Case& c : cases) {
        const std::string line = c.line;
        EXPECT_EQ(line.substr(kReservedAt - 4, 7), (line[kReservedAt - 3] == 'T' ? " Tx -  " : " Rx -  ")) << c.kind;
        EXPECT_NE(line[kReservedAt + 3], ' ') << c.kind;  // the length starts its column
        expected_reserved += line;
        expected_plain += line.substr(0, kReservedAt) + line.substr(kReservedAt + 3);
    }
    EXPECT_EQ(reserved, expected_reserved);
    EXPECT_EQ(plain, expected_plain);
}

// TRC 1.1 has no reserved column: the option changes nothing there but says so.
TEST_F(ConvertE2eTest, ReservedColumnLeavesVersion11Alone) {
    put_file(dir / "v/std.mf4", standard_log(logger("00000001")));
    RunResult run = run_converter(dir.path(), "-f version1 --reserved-column v");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, " W --reserved-column changes nothing in TRC 1.1 output, which has no reserved column\n"))
        << run.err;
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"v_out/std_CAN.trc", kStandardTrace11}}));
}

// A folder or file named twice is converted once, with a warning for each
// repeat, instead of failing on the trace its first naming wrote.
TEST_F(ConvertE2eTest, InputNamedTwiceIsConvertedOnce) {
    put_file(dir / "n/a.mf4", standard_log(logger("00000001")));
    put_file(dir / "b.mf4", standard_log(logger("00000002")));
    RunResult run = run_converter(dir.path(), "n n/ b.mf4 n b.mf4");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string warning = " W Input " + (dir / "n/") + " is named more than once; it is converted once\n";
    EXPECT_TRUE(contains(run.err, warning)) << run.err;
    EXPECT_TRUE(contains(run.err, " W Input " + (dir / "b.mf4") + " is named more than once")) << run.err;
    EXPECT_FALSE(contains(run.err, " E ")) << run.err;
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"n_out/a_CAN.trc", kStandardTrace21},
                                                                      {"b_CAN.trc", kStandardTrace21}}));
}

TEST_F(ConvertE2eTest, DeleteAfterSuccessKeepsCopiesFailuresAndWhatTheTraceCannotHold) {
    put_file(dir / "d/1.mf4", can_only_log(logger("0000ABCD", 7, 1)));
    put_file(dir / "d/2.mf4", can_only_log(logger("0000ABCD", 7, 1)));  // a copy of 1.mf4
    put_file(dir / "d/3.mf4", log_without_identity());
    put_file(dir / "d/4.mf4", can_only_log(logger("0000ABCD", 7, 2)));
    put_file(dir / "d/5.mf4", standard_log(logger("0000ABCD", 7, 3)));  // LIN and error frames too
    RunResult run = run_converter(dir.path(), "-d d");
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_TRUE(contains(run.err, "Repeated input file (0000ABCD, 00000007, 00000001)")) << run.err;
    EXPECT_TRUE(contains(run.err, "Keeping input file d/5.mf4: it holds records its trace has no notation for "
                                  "(1 LIN frame(s), 1 CAN error frame(s))"))
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "d/1.mf4"));
    EXPECT_TRUE(fs::exists(dir / "d/2.mf4"));
    EXPECT_TRUE(fs::exists(dir / "d/3.mf4"));
    EXPECT_FALSE(fs::exists(dir / "d/4.mf4"));
    EXPECT_TRUE(fs::exists(dir / "d/5.mf4"));
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"d_out/1_CAN.trc", kStandardTrace21},
                                                                      {"d_out/4_CAN.trc", kStandardTrace21},
                                                                      {"d_out/5_CAN.trc", kStandardTrace21}}));
}

TEST_F(ConvertE2eTest, ExitStatusesCombine) {
    put_file(dir / "s/good.mf4", standard_log(logger("00000001")));
    std::vector<uint8_t> broken = compressed(standard_log(logger("00000002")));
    broken[40] ^= 0x5A;  // a payload byte changed: the CRC footer no longer matches
    put_file(dir / "s/broken.mfc", broken);
    put_file(dir / "elsewhere/x.mf4", standard_log(logger("00000003")));

    struct Case {
        const char* name;
        std::string args;
        int status;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"missing input", "s/good.mf4 s/nothing.mf4", 1, "Could not find input file/folder nothing.mf4"},
        {"missing input and decompression failure", "s/nothing.mf4 s/broken.mfc", 5, "Could not decompress file"},
        {"inputs in different folders", "s/good.mf4 elsewhere/x.mf4", 132, "No common root detected for all inputs"},
    };
    for (const Case& c : cases) {
        RunResult run = run_converter(dir.path(), c.args);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << c.name << "\n" << run.err;
    }
    // ".." is not joined with the working folder and so has no root.
    RunResult run = run_converter(dir / "s", "..");
    EXPECT_EQ(run.status, 132) << run.err;
    EXPECT_TRUE(contains(run.err, "Could not find root for")) << run.err;

    EXPECT_FALSE(fs::exists(dir / "elsewhere/x_CAN.trc"));
    EXPECT_EQ(read_file(dir / "s/good_CAN.trc"), kStandardTrace21);
}

TEST_F(ConvertE2eTest, TraceFileThatCannotBeCreated) {
    put_file(dir / "o/a.mf4", standard_log(logger("00000001")));
    put_file(dir / "o/b.mf4", standard_log(logger("00000002")));
    fs::create_directories(dir / "o/a_CAN.trc");  // a folder where the trace file should go
    RunResult run = run_converter(dir.path(), "o/a.mf4 o/b.mf4");
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_TRUE(contains(run.err, "Could not open output file for CAN: a_CAN.trc")) << run.err;
    EXPECT_TRUE(contains(run.err, "Error during end file callback"));
    EXPECT_TRUE(contains(run.err, "Error during conversion of a.mf4"));
    EXPECT_TRUE(fs::is_directory(dir / "o/a_CAN.trc"));
    EXPECT_EQ(read_file(dir / "o/b_CAN.trc"), kStandardTrace21);
}


// Names that differ only in the extension's case share one trace file: the
// first in walk order keeps it, the second fails and is not deleted.
TEST_F(ConvertE2eTest, SharedTracePathIsNotOverwritten) {
    put_file(dir / "c/a.MF4", can_only_log(logger("00000001")));
    put_file(dir / "c/a.mf4", log_without_classic_frames(logger("00000002"), true));
    RunResult run = run_converter(dir.path(), "-d c");
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_TRUE(contains(run.err, "Output file already written in this run: c_out/a_CAN.trc")) << run.err;
    EXPECT_EQ(traces(dir.path()), (std::map<std::string, std::string>{{"c_out/a_CAN.trc", kStandardTrace21}}));
    EXPECT_FALSE(fs::exists(dir / "c/a.MF4"));
    EXPECT_TRUE(fs::exists(dir / "c/a.mf4"));
}

}  // namespace
}  // namespace tracemill
