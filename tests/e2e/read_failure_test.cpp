// Inputs whose reads fail part-way, as on a failing SD card: the converter
// must fail the file with result 8 and say why, never take the failure for
// the end of the data and write a shortened trace as if all were well. The
// failing file is served by a small FUSE file system (failing_reads_fs.py
// next to this file); without FUSE the tests are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

constexpr int kOtherFailure = 8;
constexpr const char* kPython = "/usr/bin/python3";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `argv` to its end with standard error in `err_path`; the exit status, -1 when killed.
int run(std::vector<std::string> argv_text, const std::string& err_path) {
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int null = ::open("/dev/null", O_RDWR);
        if (err < 0 || null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
        ::alarm(30);  // a hung run is killed
        ::execv(argv[0], argv.data());
        ::_exit(124);
    }
    int raw = 0;
    if (child < 0 || ::waitpid(child, &raw, 0) != child) return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// `source` served under `mountpoint` with reads failing from `fail_offset` on.
class FailingReadsMount {
public:
    FailingReadsMount(const std::string& source, const std::string& mountpoint, uint64_t fail_offset,
                      const std::string& log_path)
        : mountpoint_(mountpoint), file_(mountpoint + "/" + fs::path(source).filename().string()) {
        fs::create_directories(mountpoint);
        const std::string script = (fs::path(__FILE__).parent_path() / "failing_reads_fs.py").string();
        std::vector<std::string> argv_text = {kPython, script, source, mountpoint, std::to_string(fail_offset)};
        std::vector<char*> argv;
        for (std::string& arg : argv_text) argv.push_back(arg.data());
        argv.push_back(nullptr);
        server_ = ::fork();
        if (server_ == 0) {
            const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (log < 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0) ::_exit(120);
            ::execv(argv[0], argv.data());
            ::_exit(124);
        }
        // The file appears once the file system answers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        struct stat st{};
        while (std::chrono::steady_clock::now() < deadline) {
            if (::stat(file_.c_str(), &st) == 0) {
                mounted_ = true;
                break;
            }
            int raw = 0;
            if (::waitpid(server_, &raw, WNOHANG) == server_) {
                server_ = -1;  // the server gave up: no FUSE here
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~FailingReadsMount() {
        if (mounted_) run({"/usr/bin/fusermount", "-u", mountpoint_}, "/dev/null");
        if (server_ > 0) {
            ::kill(server_, SIGTERM);
            ::waitpid(server_, nullptr, 0);
        }
    }
    FailingReadsMount(const FailingReadsMount&) = delete;
    FailingReadsMount& operator=(const FailingReadsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& file() const { return file_; }

private:
    std::string mountpoint_;
    std::string file_;
    pid_t server_ = -1;
    bool mounted_ = false;
};

// Why FUSE cannot serve the failing file here; empty when it can.
std::string fuse_unavailable() {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is not usable";
    if (::access(kPython, X_OK) != 0) return std::string(kPython) + " is missing";
    if (::access("/usr/bin/fusermount", X_OK) != 0) return "fusermount is missing (install fuse3)";
    TempDir probe;
    if (run({kPython, "-c", "import fusepy"}, probe / "err") != 0 && run({kPython, "-c", "import fuse"}, probe / "err") != 0)
        return "the Python FUSE module is missing (install python3-fusepy)";
    return "";
}

std::vector<uint8_t> test_log() {
    tools::GeneratorOptions options;
    options.frames = 3000;
    options.data_groups = 2;
    return tools::write_mdf(tools::generate_log(options)).bytes;
}

TEST(ReadFailure, FailedReadsFailTheFileInsteadOfEndingItsData) {
    if (const std::string reason = fuse_unavailable(); !reason.empty()) GTEST_SKIP() << "FUSE unavailable: " << reason;

    const std::vector<uint8_t> plain = test_log();
    const std::vector<uint8_t> compressed = tools::write_compressed_container(plain.data(), plain.size(), {});
    struct Case {
        const char* name;
        const std::vector<uint8_t>& bytes;
        double fail_at;  // share of the file read before reads fail
    };
    const Case cases[] = {
        {"plain, at the start", plain, 0.0},
        {"plain, in the blocks near the start", plain, 0.01},
        {"plain, in the middle of the records", plain, 0.5},
        {"plain, at the last bytes", plain, 0.999},
        {"compressed, in the middle of the payload", compressed, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string source = dir / "log.mf4";
        ASSERT_TRUE(tools::write_bytes(source, c.bytes));
        const auto fail_offset = static_cast<uint64_t>(c.fail_at * static_cast<double>(c.bytes.size()));
        FailingReadsMount mount(source, dir / "mnt", fail_offset, dir / "fs.log");
        if (!mount.mounted()) GTEST_SKIP() << "FUSE unavailable: the file system did not start\n" << read_file(dir / "fs.log");

        fs::create_directories(dir / "out");
        const int status = run({TRACEMILL_BINARY, "-O", dir / "out", mount.file()}, dir / "err");
        const std::string err = read_file(dir / "err");
        EXPECT_EQ(status, kOtherFailure) << err;
        EXPECT_NE(err.find("Could not read file: Input/output error"), std::string::npos) << err;
        EXPECT_NE(err.find("Error during conversion of"), std::string::npos) << err;
    }
}

}  // namespace
}  // namespace tracemill
