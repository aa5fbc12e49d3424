// Trace files on disk through the real binary: never written through a link,
// never half-written under the final name, an earlier trace replaced only by
// a complete new one, private traces of encrypted inputs, and interrupted
// runs that leave nothing behind. TRACEMILL_TEST_BINARY names another build
// to run the same cases against.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "container_writer.h"
#include "mdf_generator.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char* converter() {
    const char* other = std::getenv("TRACEMILL_TEST_BINARY");
    return other != nullptr ? other : TRACEMILL_BINARY;
}

std::string text_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void store(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void store(const std::string& path, const Bytes& bytes) {
    store(path, std::string(bytes.begin(), bytes.end()));
}

Bytes generated_log(uint64_t frames, tools::FrameMix mix = {}, uint32_t split = 1) {
    tools::GeneratorOptions options;
    options.frames = frames;
    options.mix = mix;
    options.logger.split = split;
    return tools::write_mdf(tools::generate_log(options)).bytes;
}

Bytes encrypted(const Bytes& content) {
    tools::EncryptOptions options;
    options.password = "device secret";
    options.device_id = 0x00ABCDEF;
    options.iterations = 50;
    return tools::write_encrypted_container(content.data(), content.size(), options);
}

// Every name below `folder`, links not followed, relative.
std::set<std::string> names_below(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        names.insert(it->path().lexically_relative(folder).string());
    return names;
}

struct ConverterRun {
    int status = -1;  // exit status; -1 when ended by a signal
    int signal = 0;
    std::string log;
};

// Starts the converter in `cwd`; standard error goes to `log_path`.
pid_t start(const std::string& cwd, std::vector<std::string> args, const std::string& log_path,
            std::optional<rlim_t> file_size = std::nullopt) {
    args.insert(args.begin(), converter());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int null = open("/dev/null", O_RDWR);
        if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(log, 2) < 0) _exit(120);
        if (chdir(cwd.c_str()) != 0) _exit(121);
        if (file_size) {
            signal(SIGXFSZ, SIG_IGN);  // writes beyond the limit fail with EFBIG, as on a full disk
            const rlimit limit{*file_size, *file_size};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(122);
        }
        alarm(60);
        execv(argv[0], argv.data());
        _exit(124);
    }
    return child;
}

ConverterRun finish(pid_t child, const std::string& log_path) {
    ConverterRun run;
    int raw = 0;
    if (child > 0 && waitpid(child, &raw, 0) == child) {
        if (WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
        if (WIFSIGNALED(raw)) run.signal = WTERMSIG(raw);
    }
    run.log = text_of(log_path);
    return run;
}

const std::string kTrace = "in_out/log_CAN.trc";

struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;  // inputs under in/, other files
    std::vector<std::string> args;
    std::optional<rlim_t> file_size;
    int status;
    const char* message;  // nullptr: none asked for
    std::function<void(const TempDir&, const std::string& name)> check;
};

// What the output folder holds afterwards: the inputs' traces and nothing else.
void expect_output_names(const TempDir& dir, const std::set<std::string>& names, const std::string& name) {
    EXPECT_EQ(names_below(dir / "in_out"), names) << name << ": temporary or unexpected files left";
}

TEST(OutputSafety, TraceFilesAreNeverWrittenThroughLinksOrLeftHalfWritten) {
    const Bytes log = generated_log(200);
    const std::vector<Case> cases = {
        {"symbolic link at the trace name",
         [](const TempDir& dir) {
             store(dir / "outside.txt", std::string("outside"));
             fs::create_directories(dir / "in_out");
             fs::create_symlink("../outside.txt", dir / kTrace);
         },
         {"in"}, std::nullopt, 8, "Output path in_out/log_CAN.trc is a symbolic link or not a regular file",
         [](const TempDir& dir, const std::string& name) {
             EXPECT_TRUE(text_of(dir / "outside.txt") == "outside") << name << ": written through the link";
             EXPECT_TRUE(fs::is_symlink(dir / kTrace)) << name;
             expect_output_names(dir, {"log_CAN.trc"}, name);
         }},
        {"symbolic link at the output folder name",
         [](const TempDir& dir) {
             fs::create_directories(dir / "elsewhere");
             fs::create_directory_symlink("elsewhere", dir / "in_out");
         },
         {"in"}, std::nullopt, 8, "Output folder in_out is a symbolic link or not a folder",
         [](const TempDir& dir, const std::string& name) {
             EXPECT_TRUE(names_below(dir / "elsewhere").empty()) << name << ": written through the folder link";
         }},
        {"hard link at the trace name",
         [](const TempDir& dir) {
             store(dir / "outside.txt", std::string("outside"));
             fs::create_directories(dir / "in_out");
             fs::create_hard_link(dir / "outside.txt", dir / kTrace);
         },
         {"in"}, std::nullopt, 8, "Output path in_out/log_CAN.trc has further hard links; it is left as it is",
         [](const TempDir& dir, const std::string& name) {
             EXPECT_TRUE(text_of(dir / "outside.txt") == "outside") << name << ": written into the other name's file";
             EXPECT_EQ(fs::hard_link_count(dir / kTrace), 2u) << name;
             expect_output_names(dir, {"log_CAN.trc"}, name);
         }},
        {"empty result over an earlier trace",
         [](const TempDir& dir) {
             store(dir / "in/log.mf4", generated_log(50, {.classic = 0, .fd = 0, .remote = 0, .error = 1, .lin = 1}));
             store(dir / kTrace, std::string("earlier trace"));
         },
         {"--verbosity=3", "in"}, std::nullopt, 0, "LIN frame(s)",
         [](const TempDir& dir, const std::string& name) {
             EXPECT_TRUE(text_of(dir / kTrace) == "earlier trace") << name << ": earlier trace changed";
             expect_output_names(dir, {"log_CAN.trc"}, name);
         }},
        {"full disk mid-file over an earlier trace",
         [](const TempDir& dir) {
             store(dir / "in/log.mf4", generated_log(50000));  // several output buffers
             store(dir / kTrace, std::string("earlier trace"));
         },
         {"in"}, 64 * 1024, 8, "Could not write CAN data",
         [](const TempDir& dir, const std::string& name) {
             EXPECT_TRUE(text_of(dir / kTrace) == "earlier trace") << name << ": earlier trace changed";
             expect_output_names(dir, {"log_CAN.trc"}, name);
         }},
        {"trace of an encrypted input",
         [](const TempDir& dir) {
             fs::remove(dir / "in/log.mf4");
             store(dir / "in/log.mfe", encrypted(generated_log(200)));
             store(dir / "passwords.json", std::string(R"({"00ABCDEF": "device secret"})"));
         },
         {"-p", "passwords.json", "in"}, std::nullopt, 0, nullptr,
         [](const TempDir& dir, const std::string& name) {
             struct stat info {};
             ASSERT_EQ(stat((dir / kTrace).c_str(), &info), 0) << name;
             EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
         }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        store(dir / "in/log.mf4", log);
        c.prepare(dir);
        const pid_t child = start(dir.path(), c.args, dir / "log.txt", c.file_size);
        const ConverterRun run = finish(child, dir / "log.txt");
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.log;
        if (c.message) {
            EXPECT_NE(run.log.find(c.message), std::string::npos) << c.name << "\n" << run.log;
        }
        c.check(dir, c.name);
    }
}

// An earlier trace is replaced by a new file in one step, never rewritten in
// place: a reader holding it open keeps reading the earlier content whole.
TEST(OutputSafety, EarlierTraceIsReplacedWhole) {
    TempDir dir;
    store(dir / "in/log.mf4", generated_log(200));
    store(dir / kTrace, std::string("earlier trace"));
    std::ifstream reader(dir / kTrace, std::ios::binary);
    const ConverterRun run = finish(start(dir.path(), {"in"}, dir / "log.txt"), dir / "log.txt");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(reader), std::istreambuf_iterator<char>()) ==
                "earlier trace")
        << "the earlier trace was rewritten in place";
    EXPECT_EQ(text_of(dir / kTrace).rfind(";$FILEVERSION=2.1\n", 0), 0u);
    expect_output_names(dir, {"log_CAN.trc"}, "replaced");
}

// A run interrupted mid-file removes what it was writing and ends by the
// signal, also with files written on several threads at once.
TEST(OutputSafety, InterruptedRunLeavesNoFileAndEndsByItsSignal) {
    std::vector<Bytes> logs;  // three splits: no repeats, so all of them are written
    for (uint32_t split = 1; split <= 3; ++split)
        logs.push_back(generated_log(1'000'000, {.classic = 1, .fd = 0, .remote = 0, .error = 0, .lin = 0}, split));
    for (const char* jobs : {"1", "4"})
        for (int signal_number : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string("-j ") + jobs);
            TempDir dir;
            for (int i = 0; i < 3; ++i) store(dir / ("in/" + std::string(1, static_cast<char>('a' + i)) + ".mf4"), logs[i]);
            fs::create_directories(dir / "in_out");
            // Without a read buffer the conversion takes seconds: time to interrupt it.
            const pid_t child = start(dir.path(), {"-b", "0", "-j", jobs, "in"}, dir / "log.txt");
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (names_below(dir / "in_out").size() < (jobs[0] == '1' ? 1u : 2u) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ASSERT_FALSE(names_below(dir / "in_out").empty()) << "the run wrote nothing to interrupt";
            kill(child, signal_number);
            const ConverterRun run = finish(child, dir / "log.txt");
            EXPECT_EQ(run.signal, signal_number) << run.log;
            expect_output_names(dir, {}, strsignal(signal_number));
            EXPECT_TRUE(fs::exists(dir / "in/a.mf4"));
        }
}

}  // namespace
}  // namespace tracemill
