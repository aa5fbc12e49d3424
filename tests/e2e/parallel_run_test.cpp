// Several files at once through the real binary: a folder of plain,
// compressed and encrypted logs, repeats, continuations and failing files
// gives with -j 2 and -j 4 the traces, log lines (their time and thread cut
// off), remaining inputs and exit status of -j 1.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "container_writer.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Log line prefix "MM-DD hh:mm:ss.mmm PPPPP TTTTT ": time, process and thread differ between runs.
constexpr size_t kVaryingPrefix = 31;

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void store(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

Bytes log_file(const std::string& serial, uint32_t session, uint32_t split, int frames) {
    tools::LoggerProperties who;
    who.serial = serial;
    who.session = session;
    who.split = split;
    tools::FileSpec spec = tools::logger_file(who, 1'700'000'000'000'000'000ULL + split * 1'000'000'000ULL);
    tools::BusDataGroup can(1);
    const size_t group = can.add_group(tools::BusGroupKind::CanDataFrame, {.payload_capacity = 8});
    for (int i = 0; i < frames; ++i)
        can.add(group, tools::CanFrame{.time = 0.001 * i, .id = static_cast<uint32_t>(0x100 + i % 13),
                                       .data = {static_cast<uint8_t>(i), static_cast<uint8_t>(split)}});
    spec.data_groups.push_back(can.take());
    return tools::write_mdf(spec).bytes;
}

Bytes compress(const Bytes& content) {
    return tools::write_compressed_container(content.data(), content.size(), tools::CompressOptions{});
}

Bytes encrypt(const Bytes& content, uint32_t device_id) {
    tools::EncryptOptions options;
    options.password = "device secret";
    options.device_id = device_id;
    options.iterations = 200;
    return tools::write_encrypted_container(content.data(), content.size(), options);
}

// The same inputs under every run's folder, by relative path.
std::map<std::string, Bytes> mixed_inputs() {
    std::map<std::string, Bytes> files;
    files["passwords.json"] = Bytes{};
    const std::string passwords = R"({"00ABCDEF": "device secret"})";
    files["passwords.json"].assign(passwords.begin(), passwords.end());
    const Bytes third = log_file("0000AAAA", 1, 3, 300);
    files["in/a/s1_p1.mf4"] = log_file("0000AAAA", 1, 1, 4000);
    files["in/a/s1_p2.mf4"] = log_file("0000AAAA", 1, 2, 50);
    files["in/a/s1_p3.mfc"] = compress(third);
    files["in/a/s1_p3_copy.mf4"] = third;  // a repeat of the file before it
    files["in/b/broken.mf4"] = Bytes(300, 0x5A);
    files["in/b/encrypted.mfc"] = encrypt(log_file("0000BBBB", 2, 1, 2500), 0x00ABCDEF);
    files["in/b/no_password.mfc"] = encrypt(log_file("0000BBBB", 2, 2, 10), 0x00000002);
    files["in/b/notes.txt"] = Bytes{'h', 'i'};
    for (int i = 0; i < 12; ++i) {
        const Bytes log = log_file("0000CCCC", 3 + i / 4, 1 + i % 4, 100 + (i * 977) % 3000);
        files["in/c/f" + std::to_string(10 + i) + (i % 3 == 0 ? ".mfc" : ".mf4")] = i % 3 == 0 ? compress(log) : log;
    }
    files["in/c/f22.mf4"] = files["in/c/f21.mf4"];  // another repeat, last in the walk
    return files;
}

struct RunOutcome {
    int status = -1;
    std::vector<std::string> log_lines;             // without their varying prefix
    std::set<std::string> thread_ids;               // of the log lines
    std::map<std::string, std::string> files;       // every file left in the folder but the log
};

RunOutcome run_with_jobs(const std::map<std::string, Bytes>& inputs, const std::string& args) {
    TempDir folder;
    for (const auto& [path, bytes] : inputs) store(folder / path, bytes);
    const std::string command = "cd '" + folder.path() + "' && '" TRACEMILL_BINARY "' --non-interactive " + args +
                                " in 2>log.txt >/dev/null";
    const int raw = std::system(command.c_str());
    RunOutcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::istringstream log(file_text(folder / "log.txt"));
    // So does the run's duration in its summary.
    const std::regex duration(R"( in [0-9.]+ s \([0-9.]+ [kMG]?B/s\))");
    for (std::string line; std::getline(log, line);) {
        const std::string text = line.size() > kVaryingPrefix ? line.substr(kVaryingPrefix) : line;
        outcome.log_lines.push_back(std::regex_replace(text, duration, ""));
        if (line.size() > kVaryingPrefix) outcome.thread_ids.insert(line.substr(25, 5));
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
        if (entry.is_regular_file() && entry.path().filename() != "log.txt")
            outcome.files[fs::relative(entry.path(), folder.path())] = file_text(entry.path());
    return outcome;
}

TEST(ParallelRunTest, EveryJobCountGivesTheSequentialRun) {
    const std::map<std::string, Bytes> inputs = mixed_inputs();
    for (const std::string extra : {"", "-d"}) {
        SCOPED_TRACE("options: " + extra);
        const RunOutcome sequential = run_with_jobs(inputs, extra + " -j 1");
        EXPECT_EQ(sequential.status, 10);  // 8 for the broken file, 2 for the missing password
        EXPECT_EQ(sequential.thread_ids.size(), 1u);
        EXPECT_TRUE(sequential.files.count("in_out/a/s1_p3_CAN.trc"));
        EXPECT_FALSE(sequential.files.count("in_out/a/s1_p3_copy_CAN.trc"));
        EXPECT_TRUE(sequential.files.count("in_out/b/encrypted_CAN.trc"));
        for (const char* jobs : {"-j 2", "--jobs=4"}) {
            SCOPED_TRACE(jobs);
            const RunOutcome parallel = run_with_jobs(inputs, extra + " " + jobs);
            EXPECT_EQ(parallel.status, sequential.status);
            EXPECT_EQ(parallel.log_lines, sequential.log_lines);
            EXPECT_EQ(parallel.files, sequential.files);
            // The files were converted on more than one thread.
            EXPECT_GT(parallel.thread_ids.size(), 1u);
        }
    }
}

TEST(ParallelRunTest, NoJobsIsRefused) {
    const RunOutcome run = run_with_jobs({{"in/x.mf4", log_file("0000AAAA", 1, 1, 5)}}, "-j 0");
    EXPECT_EQ(run.status, 131);
    EXPECT_FALSE(run.files.count("in_out/x_CAN.trc"));
}

}  // namespace
}  // namespace tracemill
