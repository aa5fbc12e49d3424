// What a run tells besides its traces: the "Converting" line before the lines
// of each file that logged any, the summary at its end, and the JSON Lines
// report, checked against the run and the trace files on disk.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "container_writer.h"
#include "mdf_generator.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Bytes = std::vector<uint8_t>;

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void store(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes log_bytes(uint32_t split, bool can_only) {
    tools::GeneratorOptions options;
    options.frames = 400;
    options.logger.split = split;
    if (can_only) options.mix = tools::FrameMix{.classic = 1, .fd = 0, .remote = 0, .error = 0, .lin = 0};
    return tools::write_mdf(tools::generate_log(options)).bytes;
}

struct ConverterRun {
    int status = -1;
    std::string out, err;
};

// Runs the converter in `folder` with standard error (and output) into files, never a terminal.
ConverterRun run_converter(const TempDir& folder, const std::string& args) {
    const std::string command = "cd '" + folder.path() + "' && '" TRACEMILL_BINARY "' " + args + " >'" +
                                (folder / "out.txt") + "' 2>'" + (folder / "err.txt") + "'";
    const int raw = std::system(command.c_str());
    return ConverterRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_text(folder / "out.txt"), file_text(folder / "err.txt")};
}

// Runs the converter in `folder` with standard error (and output) on a pseudo-terminal; what the terminal got.
std::string run_on_terminal(const TempDir& folder, std::vector<std::string> args) {
    args.insert(args.begin(), TRACEMILL_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int terminal = -1;
    struct winsize size {};
    size.ws_col = 200;
    size.ws_row = 24;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        if (::chdir(folder.path().c_str()) != 0) ::_exit(121);
        ::execv(argv[0], argv.data());
        ::_exit(124);
    }
    if (pid < 0) return "forkpty failed";
    std::string got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // EIO once the converter has ended
        got.append(buffer, static_cast<size_t>(n));
    }
    ::close(terminal);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return got;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "I Converting run/a.mf4" from "12-08 16:01:49.471 18800 18800 I Converting run/a.mf4".
std::string without_prefix(const std::string& line) { return line.size() > 31 ? line.substr(31) : line; }

bool starts_with(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

std::vector<Json> parse_report(const std::string& text) {
    std::vector<Json> objects;
    for (const std::string& line : lines_of(text)) objects.push_back(Json::parse(line));
    return objects;
}

// The trace's frame lines by type column: DT, FD, FB, RR.
std::map<std::string, uint64_t> frame_lines(const std::string& trace) {
    std::map<std::string, uint64_t> counts;
    for (const std::string& line : lines_of(file_text(trace))) {
        if (line.empty() || line[0] == ';') continue;
        std::istringstream fields(line);
        std::string number, offset, type;
        fields >> number >> offset >> type;
        ++counts[type];
    }
    return counts;
}

class RunReportTest : public ::testing::Test {
protected:
    // Good, kept (LIN frames), repeated, compressed, no password, not MDF4, not a log file.
    void SetUp() override {
        store(folder / "run/a.mf4", log_bytes(1, false));
        store(folder / "run/b.mf4", log_bytes(2, true));
        store(folder / "run/c.mf4", log_bytes(2, true));
        const Bytes plain = log_bytes(3, true);
        store(folder / "run/d.mfc", tools::write_compressed_container(plain.data(), plain.size(), {}));
        tools::EncryptOptions secret;
        secret.password = "pw";
        secret.device_id = 0x0000ABCD;
        secret.iterations = 50;
        store(folder / "run/e.mfe", tools::write_encrypted_container(plain.data(), plain.size(), secret));
        store(folder / "run/f.mf4", Bytes{'j', 'u', 'n', 'k'});
        store(folder / "run/notes.txt", Bytes{'h', 'i'});
        for (const char* name : {"a.mf4", "b.mf4", "c.mf4", "d.mfc", "e.mfe", "f.mf4", "notes.txt"})
            sizes[name] = fs::file_size(folder / (std::string("run/") + name));
    }

    TempDir folder;
    std::map<std::string, uint64_t> sizes;
};

TEST_F(RunReportTest, ReportAgreesWithTheRunAndTheTraces) {
    const ConverterRun run = run_converter(folder, "-d --report=report.jsonl run");
    ASSERT_EQ(run.status, 2 | 8) << run.err;
    const std::vector<Json> report = parse_report(file_text(folder / "report.jsonl"));
    struct Expected {
        const char* name;
        const char* status;
        int result;
        const char* reason;  // null: none
        std::vector<std::string> layers;
        bool trace, deleted, kept;
    };
    const Expected expected[] = {
        {"a.mf4", "converted", 0, nullptr, {}, true, false, true},
        {"b.mf4", "converted", 0, nullptr, {}, true, true, false},
        {"c.mf4", "repeated", 0, nullptr, {}, false, false, false},
        {"d.mfc", "converted", 0, nullptr, {"compressed"}, true, true, false},
        {"e.mfe", "failed", 2, "no password for device 0000ABCD", {"encrypted"}, false, false, false},
        {"f.mf4", "failed", 8, "not a readable MDF4 file", {}, false, false, false},
        {"notes.txt", "passed over", 0, "not a log file", {}, false, false, false},
    };
    ASSERT_EQ(report.size(), std::size(expected) + 1) << file_text(folder / "report.jsonl");
    uint64_t frames = 0, bytes_read = 0, bytes_written = 0;
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const Json& file = report[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(file["input"], folder / (std::string("run/") + e.name));
        EXPECT_EQ(file["status"], e.status);
        EXPECT_EQ(file["result"], e.result);
        EXPECT_EQ(file["reason"], e.reason ? Json(e.reason) : Json());
        EXPECT_EQ(file["layers"], Json(e.layers));
        EXPECT_EQ(file["deleted"], e.deleted);
        EXPECT_EQ(fs::exists(folder / (std::string("run/") + e.name)), !e.deleted);
        EXPECT_EQ(file["kept_because"].empty(), !e.kept);
        const bool log_file = std::string(e.status) != "passed over";
        EXPECT_EQ(file["bytes_read"], log_file ? sizes[e.name] : 0);
        if (std::string(e.status) == "converted" || std::string(e.status) == "repeated") {
            EXPECT_EQ(file["serial"], "0000ABCD");
            EXPECT_EQ(file["session"], 1);
        }
        ASSERT_EQ(file["trace"].is_string(), e.trace);
        if (!e.trace) {
            EXPECT_EQ(file["frames"]["total"], 0);
            continue;
        }
        const std::string trace = file["trace"];
        std::map<std::string, uint64_t> lines = frame_lines(trace);
        EXPECT_EQ(file["frames"]["can"], lines["DT"]);
        EXPECT_EQ(file["frames"]["can_fd"], lines["FD"] + lines["FB"]);
        EXPECT_EQ(file["frames"]["can_remote"], lines["RR"]);
        EXPECT_EQ(file["frames"]["total"], lines["DT"] + lines["FD"] + lines["FB"] + lines["RR"]);
        EXPECT_GT(file["frames"]["total"].get<uint64_t>(), 0u);
        EXPECT_EQ(file["bytes_written"], fs::file_size(trace));
        frames += file["frames"]["total"].get<uint64_t>();
        bytes_written += fs::file_size(trace);
    }
    for (const auto& [name, size] : sizes)
        if (name != "notes.txt") bytes_read += size;
    EXPECT_GT(report[0]["records_passed_over"]["lin_frames"].get<uint64_t>(), 0u);
    const Json& totals = report.back();
    EXPECT_EQ(totals["exit_status"], run.status);
    EXPECT_EQ(totals["converted"], 3);
    EXPECT_EQ(totals["failed"], 2);
    EXPECT_EQ(totals["repeated"], 1);
    EXPECT_EQ(totals["passed_over"], 1);
    EXPECT_EQ(totals["deleted"], 2);
    EXPECT_EQ(totals["kept"], 1);
    EXPECT_EQ(totals["frames"]["total"], frames);
    EXPECT_EQ(totals["records_passed_over"], report[0]["records_passed_over"]);
    EXPECT_EQ(totals["bytes_read"], bytes_read);
    EXPECT_EQ(totals["bytes_written"], bytes_written);
}

// Into a pipe, the log is the one of old with a "Converting" line before the
// lines of each file that logged any, and the summary at the end.
TEST_F(RunReportTest, LogLinesGetTheirFileAndTheRunASummary) {
    const ConverterRun run = run_converter(folder, "-d run");
    ASSERT_EQ(run.status, 2 | 8) << run.err;
    std::vector<std::string> messages, added;
    for (const std::string& line : lines_of(run.err)) {
        const std::string message = without_prefix(line);
        const bool ours = starts_with(message, "I Converting ") || starts_with(message, "I Done: ") ||
                          starts_with(message, "I Failed: ") || starts_with(message, "I Kept: ");
        (ours ? added : messages).push_back(message);
    }
    const std::vector<std::string> old_form = {
        "I 0 password(s) loaded",
        "I run/a.mf4: 24 LIN frame(s), 6 CAN error frame(s) not written: the trace format has no notation for them",
        "W Keeping input file run/a.mf4: it holds records its trace has no notation for (24 LIN frame(s), 6 CAN "
        "error frame(s))",
        "W Repeated input file (0000ABCD, 00000001, 00000002)",
        "I Found compressed file",
        "I Found encrypted file",
        "E No password found for device 0000ABCD",
        "E Error during conversion of run/e.mfe",
        "E Could not open MDF",
        "E Error during conversion of run/f.mf4",
    };
    EXPECT_EQ(messages, old_form) << run.err;
    ASSERT_EQ(added.size(), 5u + 4u) << run.err;
    EXPECT_EQ(added[0], "I Converting run/a.mf4");
    EXPECT_EQ(added[1], "I Converting run/c.mf4");
    EXPECT_EQ(added[2], "I Converting run/d.mfc");
    EXPECT_EQ(added[3], "I Converting run/e.mfe");
    EXPECT_EQ(added[4], "I Converting run/f.mf4");
    EXPECT_TRUE(starts_with(added[5], "I Done: 3 converted, 2 failed, 1 passed over (not log files), 1 repeated, "
                                      "2 deleted, 1 kept; "))
        << added[5];
    const std::vector<std::string> notes(added.begin() + 6, added.end());
    EXPECT_EQ(notes, (std::vector<std::string>{"I Kept: run/a.mf4: it holds records its trace has no notation for "
                                               "(24 LIN frame(s), 6 CAN error frame(s))",
                                               "I Failed: run/e.mfe: no password for device 0000ABCD",
                                               "I Failed: run/f.mf4: not a readable MDF4 file"}))
        << run.err;
    // Each "Converting" line comes right before its file's first line.
    const std::map<std::string, std::string> first_lines = {
        {"I Converting run/a.mf4", old_form[1]}, {"I Converting run/c.mf4", old_form[3]},
        {"I Converting run/d.mfc", old_form[4]}, {"I Converting run/e.mfe", old_form[5]},
        {"I Converting run/f.mf4", old_form[8]}};
    const std::vector<std::string> all = lines_of(run.err);
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        const auto first = first_lines.find(without_prefix(all[i]));
        if (first != first_lines.end()) {
            EXPECT_EQ(without_prefix(all[i + 1]), first->second);
        }
    }
}

TEST_F(RunReportTest, VerbosityAndQuietRuns) {
    struct Case {
        const char* args;
        std::vector<std::string> log;  // without prefixes; "Done: ..." lines cut after "Done:"
    };
    const Case cases[] = {
        // A run of clean files says nothing per file.
        {"run/b.mf4", {"I 0 password(s) loaded", "I Done:"}},
        // Below level 3: the file's warnings stay, headings and summary go.
        {"--verbosity=2 run/b.mf4 run/c.mf4 run/a.mf4",
         {"W Repeated input file (0000ABCD, 00000001, 00000002)"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(folder / "run_out");
        const ConverterRun run = run_converter(folder, c.args);
        std::vector<std::string> log;
        for (const std::string& line : lines_of(run.err)) {
            std::string message = without_prefix(line);
            if (starts_with(message, "I Done:")) message = "I Done:";
            log.push_back(message);
        }
        EXPECT_EQ(log, c.log) << c.args << "\n" << run.err;
    }
}

TEST_F(RunReportTest, ReportOnStandardOutputAndNeverThroughALink) {
    const ConverterRun to_stdout = run_converter(folder, "--report=- run/b.mf4 run/gone.mf4");
    EXPECT_EQ(to_stdout.status, 1);
    const std::vector<Json> report = parse_report(to_stdout.out);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0]["status"], "converted");
    EXPECT_EQ(report[1]["input"], folder / "run/gone.mf4");
    EXPECT_EQ(report[1]["status"], "failed");
    EXPECT_EQ(report[1]["result"], 1);
    EXPECT_EQ(report[1]["reason"], "not found");
    EXPECT_EQ(report[2]["exit_status"], 1);
    EXPECT_EQ(report[2]["failed"], 1);

    store(folder / "target.txt", Bytes{'k', 'e', 'e', 'p'});
    ASSERT_EQ(::symlink("target.txt", (folder / "link.jsonl").c_str()), 0);
    const ConverterRun through_link = run_converter(folder, "--report=link.jsonl run/b.mf4");
    EXPECT_EQ(through_link.status, 129);
    EXPECT_NE(through_link.err.find("Could not create report file link.jsonl"), std::string::npos) << through_link.err;
    EXPECT_EQ(file_text(folder / "target.txt"), "keep");
}

// On a terminal one status line stays below the log; --non-interactive and pipes never get it.
TEST_F(RunReportTest, ProgressLineOnATerminalOnly) {
    const std::string live = run_on_terminal(folder, {"run"});
    EXPECT_NE(live.find("\r\x1b[K0/6 files, 0.0/0.1 MB, 0 frames"), std::string::npos) << live;
    EXPECT_NE(live.find("\r\x1b[K6/6 files, 0.1/0.1 MB, 1170 frames, "), std::string::npos) << live;
    EXPECT_NE(live.find(", 2 failed\r\x1b[K"), std::string::npos) << live;
    // Log lines come after a cleared line, whole, and the summary after the status line is gone.
    EXPECT_NE(live.find("\r\x1b[K"), std::string::npos);
    const size_t done = live.find(" I Done: ");
    ASSERT_NE(done, std::string::npos) << live;
    EXPECT_EQ(live.find(" files, ", done), std::string::npos) << live;
    EXPECT_NE(live.find(" E No password found for device 0000ABCD\r\n"), std::string::npos) << live;

    fs::remove_all(folder / "run_out");
    const std::string quiet = run_on_terminal(folder, {"--non-interactive", "run"});
    EXPECT_EQ(quiet.find("\x1b"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find(" files, "), std::string::npos) << quiet;
    EXPECT_NE(quiet.find(" I Done: "), std::string::npos) << quiet;
    EXPECT_EQ(run_converter(folder, "run").err.find("\x1b"), std::string::npos);
}

TEST_F(RunReportTest, InvalidUtf8InPathsIsEscapedInTheReport) {
    const std::string odd = "run/\xff\xc3(.mf4";
    fs::rename(folder / "run/b.mf4", folder / odd);
    const ConverterRun run = run_converter(folder, "--report=- '" + odd + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<Json> report = parse_report(run.out);  // parse fails on invalid UTF-8
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0]["input"], folder / "run/\\xFF\\xC3(.mf4");
}

}  // namespace
}  // namespace tracemill
