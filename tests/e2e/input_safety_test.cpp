// The converter as a process on unlucky and hostile input trees: folders it may
// not read, password files that are no files, inputs that change or are
// replaced while they are converted, inputs reached through links under -d,
// and file names that would drive a terminal. Nothing may be lost, nothing may
// block, and every failure is named.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mdf_generator.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kUnusablePath = 129;
constexpr auto kRunTimeLimit = 20s;  // far more than any run here needs: a run this long has blocked

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A log of classic CAN frames only, so that every rule of -d lets it go once converted.
std::vector<uint8_t> can_log(uint32_t split, uint64_t frames = 50) {
    tools::GeneratorOptions options;
    options.frames = frames;
    options.mix = tools::FrameMix{.classic = 1, .fd = 0, .remote = 0, .error = 0, .lin = 0};
    options.logger.serial = "0000ABCD";
    options.logger.session = 1;
    options.logger.split = split;
    return tools::write_mdf(tools::generate_log(options)).bytes;
}

void put_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(tools::write_bytes(path, bytes)) << path;
}

struct RunResult {
    int status = -1;  // exit status, -1 when ended by a signal
    bool timed_out = false;
    std::string err;  // the log
};

struct RunSpec {
    std::string cwd;
    std::vector<std::string> args;
    bool unprivileged = false;         // as "nobody", so that folder permissions apply
    std::vector<std::string> wrapper;  // a command the converter runs under
};

// A converter run in its own process group, so that it can be ended with
// whatever it started when it outlives the time limit.
class Converter {
public:
    explicit Converter(const RunSpec& spec) {
        std::vector<std::string> text = spec.wrapper;
        text.push_back(TRACEMILL_BINARY);
        text.insert(text.end(), spec.args.begin(), spec.args.end());
        std::vector<char*> argv;
        for (std::string& arg : text) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string err_path = capture_ / "err";
        pid_ = ::fork();
        if (pid_ != 0) return;
        ::setpgid(0, 0);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int null = ::open("/dev/null", O_RDWR);
        if (err < 0 || null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
        if (::chdir(spec.cwd.c_str()) != 0) ::_exit(121);
        if (!spec.wrapper.empty()) {
            // A sanitizer build checks for leaks by tracing itself, which a traced process cannot do.
            const char* options = std::getenv("ASAN_OPTIONS");
            const std::string with = (options ? std::string(options) + ":" : std::string()) + "detect_leaks=0";
            ::setenv("ASAN_OPTIONS", with.c_str(), 1);
        }
        if (spec.unprivileged && ::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                ::setuid(nobody->pw_uid) != 0)
                ::_exit(123);
        }
        ::execv(argv[0], argv.data());
        ::_exit(124);
    }

    // Waits for the end of the run, ending it once the time limit has passed.
    RunResult finish() {
        RunResult result;
        const auto deadline = std::chrono::steady_clock::now() + kRunTimeLimit;
        int raw = 0;
        while (pid_ > 0 && ::waitpid(pid_, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(-pid_, SIGKILL);
                ::waitpid(pid_, &raw, 0);
                result.timed_out = true;
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        if (!result.timed_out && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
        result.err = read_file(capture_ / "err");
        return result;
    }

private:
    TempDir capture_;
    pid_t pid_ = -1;
};

RunResult run_converter(const RunSpec& spec) { return Converter(spec).finish(); }

// ---------------------------------------------------------------- the walk

// Folders a user may not read inside the walk fail with 129 and a message
// that names the path and the reason; the rest of the tree is converted.
TEST(InputSafety, UnreadableFoldersAreNamedAndGive129) {
    struct Case {
        const char* name;
        mode_t mode;  // of run/sub, which holds a log
        std::string message;
    };
    const std::vector<Case> cases = {
        {"cannot be listed", 0000, " E Could not list folder run/sub: Permission denied\n"},
        {"entries cannot be queried", 0644, " E Error during stat of run/sub/a.mf4: Permission denied\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        put_file(dir / "run/sub/a.mf4", can_log(1));
        put_file(dir / "run/z.mf4", can_log(2));
        // Root may read anything: the run is made as "nobody", who owns the tree.
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(dir.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
            for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
                ASSERT_EQ(::chown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        ASSERT_EQ(::chmod((dir / "run/sub").c_str(), c.mode), 0);
        const RunResult run = run_converter({dir.path(), {"run/"}, true});
        EXPECT_EQ(run.status, kUnusablePath) << c.name << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << c.name << "\n" << run.err;
        EXPECT_TRUE(fs::exists(dir / "run_out/z_CAN.trc")) << c.name;
    }
}

// Files named with control characters are shown escaped in every log line.
TEST(InputSafety, ControlCharactersInFileNamesAreEscaped) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> names = {
        {"esc\x1B[31m.mf4", "esc\\x1B[31m.mf4"},
        {"new\nline.mf4", "new\\x0Aline.mf4"},
        {"bell\a\t.mf4", "bell\\x07\\x09.mf4"},
    };
    for (const auto& [raw, shown] : names) put_file(dir / ("run/" + raw), std::vector<uint8_t>(100, 0x55));
    const RunResult run = run_converter({dir.path(), {"run/"}});
    EXPECT_EQ(run.status, 8) << run.err;
    for (const auto& [raw, shown] : names) {
        EXPECT_TRUE(contains(run.err, " E Error during conversion of run/" + shown + "\n")) << run.err;
        EXPECT_FALSE(contains(run.err, raw)) << run.err;
    }
}

// ---------------------------------------------------------------- password files

// A password file that is no regular file is refused at once, never read and never waited on.
TEST(InputSafety, PasswordFileThatIsNoFileFailsWithoutBlocking) {
    struct Case {
        const char* name;
        const char* path;
        bool fifo;
        bool named;  // with -p; otherwise the default name in the working folder
    };
    const std::vector<Case> cases = {
        {"-p folder", "keys", false, true},
        {"-p FIFO", "keys", true, true},
        {"passwords.json folder", "passwords.json", false, false},
        {"passwords.json FIFO", "passwords.json", true, false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        put_file(dir / "run/a.mf4", can_log(1));
        if (c.fifo) {
            ASSERT_EQ(::mkfifo((dir / c.path).c_str(), 0644), 0);
        } else {
            fs::create_directory(dir / c.path);
        }
        std::vector<std::string> args = {"run/"};
        if (c.named) args = {"-p", c.path, "run/"};
        const RunResult run = run_converter({dir.path(), args});
        ASSERT_FALSE(run.timed_out) << c.name << ": blocked";
        EXPECT_EQ(run.status, 1) << c.name << "\n" << run.err;
        // The path is made absolute first, which gives a folder its final "/".
        const std::string shown = (dir / c.path) + (c.fifo ? "" : "/");
        EXPECT_TRUE(contains(run.err, " E Failed to open password file at " + shown + "\n"))
            << c.name << "\n" << run.err;
        EXPECT_FALSE(contains(run.err, "Out of memory")) << c.name;
        EXPECT_FALSE(fs::exists(dir / "run_out")) << c.name;
    }
}

// A password file that loads nothing for a reason the user cannot see says so.
TEST(InputSafety, PasswordFileInTheWrongShapeIsWarnedAbout) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string text;
        const char* warning;
    };
    const std::vector<Case> cases = {
        {"UTF-16", "\xFF\xFE{\0\"\0d\0e\0f\0a\0u\0l\0t\0\"\0:\0\"\0p\0\"\0}\0"s, "is UTF-16 text"},
        {"zero byte", "\0{\"default\": \"p\"}"s, "contains a zero byte at offset 0"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        put_file(dir / "run/a.mf4", can_log(1));
        put_file(dir / "keys.json", std::vector<uint8_t>(c.text.begin(), c.text.end()));
        const RunResult run = run_converter({dir.path(), {"-p", "keys.json", "run/"}});
        EXPECT_EQ(run.status, 0) << c.name << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, " W Password file " + (dir / "keys.json") + " " + c.warning))
            << c.name << "\n" << run.err;
    }
}

// ---------------------------------------------------------------- -d

// The process that the tracer writing `trace` has put into a stop with SIGSTOP; 0 until then.
pid_t stopped_process(const std::string& trace) {
    const std::string text = read_file(trace);
    const size_t stop = text.find(" --- stopped by SIGSTOP ---");
    if (stop == std::string::npos) return 0;
    const size_t line = text.rfind('\n', stop);
    return static_cast<pid_t>(std::atoi(text.c_str() + (line == std::string::npos ? 0 : line + 1)));
}

// Waits, at most the run's time limit, for the tracer writing `trace` to stop
// the converter; its process id, or 0 when it never stopped.
pid_t wait_until_stopped(const std::string& trace) {
    pid_t stopped = 0;
    for (auto waited = 0ms; stopped == 0 && waited < kRunTimeLimit; waited += 5ms) {
        stopped = stopped_process(trace);
        if (stopped == 0) std::this_thread::sleep_for(5ms);
    }
    return stopped;
}

// The converter is stopped by the tracer right after its first read of the
// input, the input is changed while it stands still, and it goes on from
// there: no timing decides what the converter sees.
TEST(InputSafety, InputChangedDuringTheConversionIsKept) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace to stop the converter mid-file";
    struct Case {
        const char* name;
        std::function<void(const TempDir&)> meanwhile;
        const char* kept_because;  // nullptr: deleted
    };
    const std::vector<Case> cases = {
        {"unchanged", [](const TempDir&) {}, nullptr},
        {"still being copied in",
         [](const TempDir& dir) { std::ofstream(dir / "run/a.mf4", std::ios::app | std::ios::binary) << "more"; },
         "it changed during the conversion"},
        {"renamed over",
         [](const TempDir& dir) {
             put_file(dir / "newer.mf4", can_log(7));
             fs::rename(dir / "newer.mf4", dir / "run/a.mf4");
         },
         "another file took its name during the conversion"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        put_file(dir / "run/a.mf4", can_log(1, 5000));
        const std::string input = dir / "run/a.mf4";
        const std::string trace = dir / "strace.txt";
        // Stopped where it first reads or maps the input.
        Converter converter({dir.path(), {"-d", "run/"}, false,
                             {"/usr/bin/strace", "-f", "-qq", "-o", trace, "-P", input, "-e", "trace=read,mmap", "-e",
                              "inject=read,mmap:signal=SIGSTOP:when=1"}});
        const pid_t stopped = wait_until_stopped(trace);
        ASSERT_NE(stopped, 0) << c.name << ": the converter never stopped at its first read of the input\n"
                              << read_file(trace);
        const std::string before = read_file(input);
        c.meanwhile(dir);
        const std::string during = read_file(input);
        ASSERT_EQ(::kill(stopped, SIGCONT), 0);
        const RunResult run = converter.finish();
        ASSERT_FALSE(run.timed_out) << c.name;
        EXPECT_EQ(run.status, 0) << c.name << "\n" << run.err;
        EXPECT_TRUE(fs::exists(dir / "run_out/a_CAN.trc")) << c.name;
        if (c.kept_because == nullptr) {
            EXPECT_FALSE(fs::exists(input)) << c.name << "\n" << run.err;
        } else {
            EXPECT_EQ(read_file(input), during) << c.name << ": the input must be kept as it is";
            EXPECT_TRUE(contains(run.err, std::string(" W Keeping input file run/a.mf4: ") + c.kept_because + "\n"))
                << c.name << "\n" << run.err;
        }
        EXPECT_FALSE(before.empty()) << c.name;
    }
}

// Under -d, an input reached through a link is converted and left where it
// is, and a link to an input this run deleted is no missing input.
TEST(InputSafety, InputsReachedThroughLinksAreConvertedButNotDeleted) {
    TempDir dir;
    put_file(dir / "archive/a.mf4", can_log(1));
    put_file(dir / "archive/b.mf4", can_log(3));
    put_file(dir / "run/plain.mf4", can_log(5));
    fs::create_directory_symlink("../archive", dir / "run/link");
    fs::create_symlink("../archive/b.mf4", dir / "run/alias.mf4");
    fs::create_symlink("plain.mf4", dir / "run/zlink.mf4");  // walked after plain.mf4 is gone
    const RunResult run = run_converter({dir.path(), {"-d", "run/"}});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* trace : {"run_out/link/a_CAN.trc", "run_out/alias_CAN.trc", "run_out/plain_CAN.trc"})
        EXPECT_TRUE(fs::exists(dir / trace)) << trace;
    EXPECT_TRUE(fs::exists(dir / "archive/a.mf4"));
    EXPECT_TRUE(fs::exists(dir / "archive/b.mf4"));
    EXPECT_TRUE(fs::is_symlink(dir / "run/alias.mf4"));
    EXPECT_FALSE(fs::exists(dir / "run/plain.mf4"));
    for (const char* input : {"run/alias.mf4", "run/link/a.mf4"})
        EXPECT_TRUE(contains(run.err, std::string(" W Keeping input file ") + input +
                                          ": it was reached through a symbolic link\n"))
            << input << "\n" << run.err;
    EXPECT_FALSE(contains(run.err, "Could not find input file/folder")) << run.err;
}

}  // namespace
}  // namespace tracemill

namespace tracemill {
namespace {

// The offset of the log's only data block, which the writer puts last in the file.
size_t data_block_offset(const std::vector<uint8_t>& log) {
    const std::string_view bytes(reinterpret_cast<const char*>(log.data()), log.size());
    return bytes.find("##DT");
}

// Under -d, a file whose records end inside its data keeps the input; a record
// cut short at the very end of the file (a logger losing power) does not.
TEST(InputSafety, DeletionNeedsEveryDataGroupReadToItsEnd) {
    struct Case {
        const char* name;
        int cut_from_data_block;  // bytes taken from the declared length of the data block
        int cut_from_file;        // bytes taken from the end of the file
        bool deleted;
    };
    const Case cases[] = {
        {"whole", 0, 0, true},
        {"last record cut at the end of the file", 0, 3, true},
        {"data block ends inside a record before the end of the file", 3, 0, false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<uint8_t> log = can_log(1);
        const size_t dt = data_block_offset(log);
        ASSERT_NE(dt, std::string::npos);
        uint64_t length = 0;
        std::memcpy(&length, log.data() + dt + 8, sizeof length);
        ASSERT_EQ(dt + length, log.size()) << "the data block is not the last block";
        length -= static_cast<uint64_t>(c.cut_from_data_block);
        std::memcpy(log.data() + dt + 8, &length, sizeof length);
        log.resize(log.size() - static_cast<size_t>(c.cut_from_file));
        put_file(dir / "run/a.mf4", log);
        const RunResult run = run_converter({dir.path(), {"-d", "run/"}});
        EXPECT_EQ(run.status, 0) << c.name << "\n" << run.err;
        EXPECT_TRUE(fs::exists(dir / "run_out/a_CAN.trc")) << c.name;
        EXPECT_EQ(fs::exists(dir / "run/a.mf4"), !c.deleted) << c.name << "\n" << run.err;
        if (!c.deleted) {
            EXPECT_TRUE(contains(run.err, "Keeping input file run/a.mf4: data group 1 ends after 49 of 50 records"))
                << c.name << "\n" << run.err;
        }
    }
}

}  // namespace
}  // namespace tracemill

namespace tracemill {
namespace {

// A mapped input cut short by another process while it is converted: the
// converter is stopped right after mapping it, the file is truncated, and the
// reads that follow meet pages that no longer exist. The file fails with 8
// and a message, the process lives on to the next file, and -d keeps it.
TEST(InputSafety, MappedInputCutShortFailsTheFileNotTheRun) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace to stop the converter mid-file";
    // Cut inside a page (the reader meets zeros) and at a page boundary (the
    // next access faults).
    for (const bool page_aligned : {false, true}) {
        SCOPED_TRACE(page_aligned ? "cut at a page boundary" : "cut inside a page");
        TempDir dir;
        put_file(dir / "run/a.mf4", can_log(1, 20000));
        put_file(dir / "run/b.mf4", can_log(2, 50));
        const std::string input = dir / "run/a.mf4";
        const std::string trace = dir / "strace.txt";
        Converter converter({dir.path(), {"-d", "run/"}, false,
                             {"/usr/bin/strace", "-f", "-qq", "-o", trace, "-P", input, "-e", "trace=mmap", "-e",
                              "inject=mmap:signal=SIGSTOP:when=1"}});
        const pid_t stopped = wait_until_stopped(trace);
        ASSERT_NE(stopped, 0) << "the converter never mapped the input\n" << read_file(trace);
        const auto cut = fs::file_size(input) / 3;
        fs::resize_file(input, page_aligned ? cut & ~uintmax_t{4095} : cut | 1);
        ASSERT_EQ(::kill(stopped, SIGCONT), 0);
        const RunResult run = converter.finish();
        ASSERT_FALSE(run.timed_out);
        EXPECT_EQ(run.status, 8) << run.err;
        EXPECT_TRUE(contains(run.err, "Could not read file: it was cut short while being read")) << run.err;
        EXPECT_TRUE(fs::exists(input)) << "a file that failed is never deleted\n" << run.err;
        EXPECT_FALSE(fs::exists(dir / "run/b.mf4")) << "the next file is converted and deleted\n" << run.err;
        if (page_aligned) {
            EXPECT_TRUE(contains(read_file(trace), "SIGBUS")) << read_file(trace);
        }
    }
}

// A file larger than the address space the converter may use is read through
// a moving window and gives the same trace as without the limit.
TEST(InputSafety, InputLargerThanTheAddressSpaceConverts) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits do not apply under the sanitizers' shadow memory";
#endif
    if (::access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "needs prlimit to limit the address space";
    constexpr uint64_t kLimit = 40ull << 20;
    TempDir dir;
    const std::vector<uint8_t> log = can_log(1, 2'500'000);
    ASSERT_GT(log.size(), kLimit);
    put_file(dir / "in/big.mf4", log);
    fs::create_directories(dir / "free");
    fs::create_directories(dir / "limited");
    const RunResult free_run = run_converter({dir.path(), {"-O", "free", "in/big.mf4"}});
    ASSERT_EQ(free_run.status, 0) << free_run.err;
    const RunResult limited = run_converter(
        {dir.path(), {"-O", "limited", "in/big.mf4"}, false, {"/usr/bin/prlimit", "--as=" + std::to_string(kLimit), "--"}});
    EXPECT_EQ(limited.status, 0) << limited.err;
    EXPECT_EQ(read_file(dir / "limited/big_CAN.trc"), read_file(dir / "free/big_CAN.trc"));
}

}  // namespace
}  // namespace tracemill
