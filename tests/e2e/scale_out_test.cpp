// Beyond one process: input lists, base folders and shards through the real
// binary, and the Dask recipe in contrib/ on a local cluster. The shards of a
// fleet's folder together write the traces, reports and exit status of one
// unsharded run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
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
using Json = nlohmann::json;
using Tree = std::map<std::string, std::string>;  // relative path → bytes

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
    tools::LoggerProperties who{.serial = serial, .session = session, .split = split};
    tools::FileSpec spec = tools::logger_file(who, 1'700'000'000'000'000'000ULL + split * 1'000'000'000ULL);
    tools::BusDataGroup can(1);
    const size_t group = can.add_group(tools::BusGroupKind::CanDataFrame, {.payload_capacity = 8});
    for (int i = 0; i < frames; ++i)
        can.add(group, tools::CanFrame{.time = 0.001 * i, .id = static_cast<uint32_t>(0x100 + i % 13),
                                       .data = {static_cast<uint8_t>(i), static_cast<uint8_t>(split)}});
    spec.data_groups.push_back(can.take());
    return tools::write_mdf(spec).bytes;
}

// A fleet's upload folder: loggers with a folder per session or all sessions
// in one, splits that continue each other, copies right after their
// original, a compressed and a broken file, a note, and a file at the top.
void write_fleet(const TempDir& work) {
    std::map<std::string, Bytes> files;
    for (uint32_t split = 1; split <= 3; ++split)
        files["0000AAAA/S0001/" + std::to_string(split) + ".mf4"] = log_file("0000AAAA", 1, split, 40 + 10 * split);
    files["0000AAAA/S0001/3b.mf4"] = files["0000AAAA/S0001/3.mf4"];
    files["0000AAAA/S0002/1.mf4"] = log_file("0000AAAA", 2, 1, 25);
    const Bytes first = log_file("0000BBBB", 7, 1, 300);
    files["0000BBBB/S0007/1.mfc"] = tools::write_compressed_container(first.data(), first.size(), {});
    files["0000BBBB/S0007/2.mf4"] = log_file("0000BBBB", 7, 2, 30);
    files["0000BBBB/S0007/broken.mf4"] = Bytes(300, 0x5A);
    for (uint32_t split = 1; split <= 4; ++split)
        files["0000CCCC/S0005/" + std::to_string(split) + ".MF4"] = log_file("0000CCCC", 5, split, 20 * split);
    files["0000CCCC/S0005/notes.txt"] = Bytes{'h', 'i'};
    files["0000DDDD/s1_1.mf4"] = log_file("0000DDDD", 1, 256, 33);
    files["0000DDDD/s2_1.mf4"] = log_file("0000DDDD", 2, 257, 34);
    files["0000DDDD/s2_1_copy.mf4"] = files["0000DDDD/s2_1.mf4"];
    files["top.mf4"] = log_file("0000EEEE", 1, 1, 12);
    std::ofstream list(work / "list.txt");
    for (const auto& [path, bytes] : files) {
        store(work / ("fleet/" + path), bytes);
        list << work.path() << "/fleet/" << path << "\n";
    }
    list << "fleet/0000FFFF/gone.mf4\n";  // relative to the working folder, and missing
}

int run_in(const TempDir& work, const std::string& command) {
    const int raw = std::system(("cd '" + work.path() + "' && " + command).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string tracemill(const std::string& args) {
    return "'" TRACEMILL_BINARY "' --non-interactive -q -j 2 " + args + " 2>>log.txt";
}

Tree tree(const std::string& folder) {
    Tree files;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) files[fs::relative(entry.path(), folder)] = file_text(entry.path());
    return files;
}

// A report's file objects without their timing, traces relative to
// `out_folder`, and its last object.
struct Report {
    std::vector<std::string> files;
    Json run;
};
std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

Report read_report(const std::string& path, const std::string& out_folder) {
    Report report;
    std::istringstream lines(file_text(path));
    for (std::string line; std::getline(lines, line);) {
        Json object = Json::parse(line);
        object.erase("seconds");
        if (object["trace"].is_string())
            object["trace"] = fs::relative(object["trace"].get<std::string>(), out_folder).string();
        if (object.contains("exit_status"))
            report.run = object;
        else
            report.files.push_back(object.dump());
    }
    return report;
}

TEST(ScaleOut, ShardsTogetherAreTheUnshardedRun) {
    TempDir work;
    write_fleet(work);
    for (const char* out : {"out0", "out1", "out2", "out3"}) fs::create_directories(work / out);
    const int whole = run_in(work, tracemill("--files-from=list.txt -O out0 --report=r0.jsonl"));
    EXPECT_EQ(whole, 9);  // the missing listed file and the broken one
    const Tree expected = tree(work / "out0");
    EXPECT_TRUE(expected.count("0000AAAA/S0001/3_CAN.trc"));
    EXPECT_FALSE(expected.count("0000AAAA/S0001/3b_CAN.trc"));  // a repeat
    EXPECT_FALSE(expected.count("0000DDDD/s2_1_copy_CAN.trc"));
    const Report whole_report = read_report(work / "r0.jsonl", work / "out0");
    EXPECT_EQ(whole_report.run["repeated"], 2);

    Tree shards;
    std::vector<std::string> reported;
    int combined = 0, shards_with_traces = 0;
    for (const std::string k : {"1", "2", "3"}) {
        SCOPED_TRACE("shard " + k);
        const std::string out = "out" + k;
        const int status =
            run_in(work, tracemill("--files-from=list.txt -O " + out + " --shard=" + k + "/3 --report=r" + k + ".jsonl"));
        combined |= status;
        const Tree part = tree(work / out);
        shards_with_traces += part.empty() ? 0 : 1;
        for (const auto& [path, bytes] : part) EXPECT_TRUE(shards.emplace(path, bytes).second) << "twice: " << path;
        const Report report = read_report(work / ("r" + k + ".jsonl"), work / out);
        reported.insert(reported.end(), report.files.begin(), report.files.end());
        EXPECT_EQ(report.run["exit_status"], status);
    }
    EXPECT_EQ(shards, expected);
    EXPECT_EQ(combined, whole);
    EXPECT_GE(shards_with_traces, 2);
    // Every file, the missing one included, is reported by one shard, as the whole run reports it.
    EXPECT_EQ(sorted(reported), sorted(whole_report.files));
}

TEST(ScaleOut, ListsBasesAndShardsOnTheCommandLine) {
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> traces;  // under out/
        std::string log;                  // a line the log must hold
    };
    const std::string l = "printf 'fleet/a/1.mf4\\0fleet/b/2.mf4\\0' | ";
    const std::vector<Case> cases = {
        {l + "T --files-from=- --null -O out", 0, {"a/1_CAN.trc", "b/2_CAN.trc"}, "2 input(s) listed in -"},
        {l + "T --files-from=- --null --base=. -O out", 0, {"fleet/a/1_CAN.trc", "fleet/b/2_CAN.trc"}, ""},
        {"T --files-from=list -O out fleet/a/", 1, {"a_out/1_CAN.trc"}, "Could not find input file/folder c/missing.mf4"},
        {"T --files-from=nothing -O out", 1, {}, "Could not open input list nothing"},
        {"T --base=fleet/a -O out fleet/b/2.mf4", 132, {}, "lies outside the base folder"},
        {"T --shard=4/3 -O out fleet/a/1.mf4", 131, {}, "Shard must be k/n with 1 <= k <= n: 4/3"},
        {"T --shard=1/0 -O out fleet/a/1.mf4", 131, {}, "Shard must be k/n with 1 <= k <= n: 1/0"},
        {"T --null -O out fleet/a/1.mf4", 0, {"1_CAN.trc"}, "--null changes nothing without --files-from"},
        {"T -O out", 134, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir work;
        store(work / "fleet/a/1.mf4", log_file("0000AAAA", 1, 1, 10));
        store(work / "fleet/b/2.mf4", log_file("0000BBBB", 1, 1, 10));
        std::ofstream(work / "list") << "fleet/c/missing.mf4\n";
        fs::create_directories(work / "out");
        std::string command = c.args;
        command.replace(command.find("T "), 2, "'" TRACEMILL_BINARY "' --non-interactive -j 1 ");
        EXPECT_EQ(run_in(work, command + " >stdout.txt 2>log.txt"), c.status);
        const Tree written = tree(work / "out");
        EXPECT_EQ(written.size(), c.traces.size());
        for (const std::string& trace : c.traces) EXPECT_TRUE(written.count(trace)) << trace;
        EXPECT_NE(file_text(work / "log.txt").find(c.log), std::string::npos) << file_text(work / "log.txt");
    }
}

TEST(ScaleOut, AShardWithoutFilesSucceeds) {
    TempDir work;
    store(work / "in/1.mf4", log_file("0000AAAA", 1, 1, 10));
    int traces = 0;
    for (const std::string k : {"1", "2"}) {
        const std::string out = "out" + k;
        fs::create_directories(work / out);
        EXPECT_EQ(run_in(work, tracemill("--shard=" + k + "/2 -O " + out + " in/1.mf4")), 0) << k;
        traces += static_cast<int>(tree(work / out).size());
    }
    EXPECT_EQ(traces, 1);
}

// Debian's interpreter, where python3-distributed installs.
constexpr char kPython[] = "/usr/bin/python3";

TEST(ScaleOut, DaskRecipeOnTwoWorkersIsTheSingleRun) {
    if (std::system((std::string(kPython) + " -c 'import distributed' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "python3-distributed is not installed (scripts/install-deps installs it)";
    TempDir work;
    write_fleet(work);
    fs::create_directories(work / "single");
    fs::create_directories(work / "dask");
    const int single = run_in(work, tracemill("-O single --report=single.jsonl fleet"));
    EXPECT_EQ(single, 8);
    const std::string recipe = std::string(kPython) + " '" TRACEMILL_SOURCE_DIR "/contrib/tracemill_dask.py' "
                               "--workers 2 --shards 3 --tracemill '" TRACEMILL_BINARY "' --report=dask.jsonl fleet "
                               "-- -O dask -q -j 1 >summary.json 2>>log.txt";
    EXPECT_EQ(run_in(work, recipe), single) << file_text(work / "log.txt");
    EXPECT_EQ(tree(work / "dask"), tree(work / "single"));
    const Json summary = Json::parse(file_text(work / "summary.json"));
    const Report whole = read_report(work / "single.jsonl", work / "single");
    EXPECT_EQ(summary["shards"], 3);
    EXPECT_EQ(summary["exit_status"], single);
    for (const char* key : {"converted", "failed", "passed_over", "repeated", "bytes_written", "frames"})
        EXPECT_EQ(summary[key], whole.run[key]) << key;
    EXPECT_EQ(sorted(read_report(work / "dask.jsonl", work / "dask").files), sorted(whole.files));
}

}  // namespace
}  // namespace tracemill
