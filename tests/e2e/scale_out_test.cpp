// Beyond one process: input lists, base folders and shards through the real
// binary, and the Dask recipe in contrib/ on a local cluster. The shards of a
// fleet's folder together write the traces, reports and exit status of one
// unsharded run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Tree = std::map<std::string, std::string>;  // relative path → bytes

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run_in(const TempDir& work, const std::string& command) {
    const int raw = std::system(("cd '" + work.path() + "' && " + command).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// One log file of `serial`, session and split, written by the synthetic writer.
std::string make_log(const std::string& path, const std::string& serial, int session, int split) {
    return "mkdir -p $(dirname " + path + ") && '" TRACEMILL_TOOLS_DIR "/tm_mdfgen' -o " + path + " --serial=" +
           serial + " --session=" + std::to_string(session) + " --split=" + std::to_string(split) + " -n " +
           std::to_string(30 + 7 * split) + " -s " + std::to_string(session * 100 + split) + " >/dev/null && ";
}

// A fleet's upload folder: loggers with a folder per session or all sessions
// in one, splits that continue each other (also into the next session),
// copies right after their original, a compressed and a broken file, a note,
// a file at the top; and list.txt naming them all and a missing file.
void write_fleet(const TempDir& work) {
    std::string script = make_log("fleet/0000AAAA/S0001/1.mf4", "0000AAAA", 1, 1) +
                         make_log("fleet/0000AAAA/S0001/2.mf4", "0000AAAA", 1, 2) +
                         make_log("fleet/0000AAAA/S0001/3.mf4", "0000AAAA", 1, 3) +
                         make_log("fleet/0000AAAA/S0002/1.mf4", "0000AAAA", 2, 1) +
                         make_log("b1.mf4", "0000BBBB", 7, 1) + make_log("fleet/0000BBBB/S0007/2.mf4", "0000BBBB", 7, 2) +
                         make_log("fleet/0000DDDD/s1_1.mf4", "0000DDDD", 1, 256) +
                         make_log("fleet/0000DDDD/s2_1.mf4", "0000DDDD", 2, 257) +
                         make_log("fleet/top.mf4", "0000EEEE", 1, 1);
    for (int split = 1; split <= 4; ++split)
        script += make_log("fleet/0000CCCC/S0005/" + std::to_string(split) + ".MF4", "0000CCCC", 5, split);
    script += "'" TRACEMILL_TOOLS_DIR "/tm_container' compress b1.mf4 fleet/0000BBBB/S0007/1.mfc && "
              "cp fleet/0000AAAA/S0001/3.mf4 fleet/0000AAAA/S0001/3b.mf4 && "
              "cp fleet/0000DDDD/s2_1.mf4 fleet/0000DDDD/s2_1_copy.mf4 && "
              "head -c 300 /dev/zero >fleet/0000BBBB/S0007/broken.mf4 && echo hi >fleet/0000CCCC/S0005/notes.txt && "
              "find \"$PWD/fleet\" -type f | LC_ALL=C sort >list.txt && echo fleet/0000FFFF/gone.mf4 >>list.txt";
    ASSERT_EQ(run_in(work, script), 0);
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
    std::multiset<std::string> files;
    Json run;
};

Report read_report(const std::string& path, const std::string& out_folder) {
    Report report;
    std::istringstream lines(file_text(path));
    for (std::string line; std::getline(lines, line);) {
        Json object = Json::parse(line);
        object.erase("seconds");
        if (object["trace"].is_string())
            object["trace"] = fs::relative(object["trace"].get<std::string>(), out_folder).string();
        if (object["outputs"].is_array())
            for (auto& output : object["outputs"]) output = fs::relative(output.get<std::string>(), out_folder).string();
        if (object.contains("exit_status"))
            report.run = object;
        else
            report.files.insert(object.dump());
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
    std::multiset<std::string> reported;
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
        reported.insert(report.files.begin(), report.files.end());
        EXPECT_EQ(report.run["exit_status"], status);
    }
    EXPECT_EQ(shards, expected);
    EXPECT_EQ(combined, whole);
    EXPECT_GE(shards_with_traces, 2);
    // Every file, the missing one included, is reported by one shard, as the whole run reports it.
    EXPECT_EQ(reported, whole_report.files);
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
        // The root's own folder "" hashes to an odd number: shard 2 of 2; shard 1 is empty and succeeds.
        {"T --shard=2/2 -O out fleet/a/1.mf4", 0, {"1_CAN.trc"}, "Converting shard 2 of 2"},
        {"T --shard=1/2 -O out fleet/a/1.mf4", 0, {}, "Converting shard 1 of 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir work;
        ASSERT_EQ(run_in(work, make_log("fleet/a/1.mf4", "0000AAAA", 1, 1) + make_log("fleet/b/2.mf4", "0000BBBB", 1, 1) +
                                   "mkdir out && echo fleet/c/missing.mf4 >list"),
                  0);
        std::string command = c.args;
        command.replace(command.find("T "), 2, "'" TRACEMILL_BINARY "' --non-interactive -j 1 ");
        EXPECT_EQ(run_in(work, command + " >stdout.txt 2>log.txt"), c.status);
        const Tree written = tree(work / "out");
        EXPECT_EQ(written.size(), c.traces.size());
        for (const std::string& trace : c.traces) EXPECT_TRUE(written.count(trace)) << trace;
        EXPECT_NE(file_text(work / "log.txt").find(c.log), std::string::npos) << file_text(work / "log.txt");
    }
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
    for (const char* key : {"converted", "failed", "passed_over", "repeated", "outputs", "bytes_written", "frames"})
        EXPECT_EQ(summary[key], whole.run[key]) << key;
    EXPECT_EQ(read_report(work / "dask.jsonl", work / "dask").files, whole.files);
}

}  // namespace
}  // namespace tracemill
