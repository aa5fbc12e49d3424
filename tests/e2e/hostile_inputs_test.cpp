// The converter as a process on damaged, crafted and unusual inputs and on
// failing output: every run must end on its own (no crash, no hang) with a
// result code and a message, and nothing may be lost: an input that was not
// converted stays where it was, even with -d.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "container_writer.h"
#include "hostile_shapes.h"
#include "mdf_generator.h"
#include "mdf_layout.h"
#include "mdf_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;

constexpr int kOtherFailure = 8;
constexpr int kPasswordFailure = 2;
constexpr int kNotFileOrFolder = 129;
// Far more than any of these inputs needs; a run this long has hung.
constexpr int kRunTimeLimitSeconds = 20;
// Peak memory says little when the converter carries AddressSanitizer's
// shadow memory and quarantine, as it does in a sanitizer build of the tests.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#elif defined(__has_feature)
constexpr bool kMemoryIsMeasurable = !__has_feature(address_sanitizer);
#else
constexpr bool kMemoryIsMeasurable = true;
#endif


std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const std::string& path, std::span<const uint8_t> bytes) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(tools::write_bytes(path, bytes)) << path;
}

struct RunLimits {
    std::optional<rlim_t> file_size;  // RLIMIT_FSIZE of the child, SIGXFSZ ignored
    bool unprivileged = false;        // run as "nobody" when started as root
    std::optional<rlim_t> address_space;  // RLIMIT_AS of the child
    unsigned seconds = kRunTimeLimitSeconds;  // killed when still running after this
};

struct RunResult {
    int status = -1;        // exit status, -1 when killed by a signal
    int signal = 0;         // the signal that ended the run
    bool timed_out = false;
    std::string err;        // the log
    long max_rss_kb = 0;    // peak resident memory of the run
    double seconds = 0;
};

// Runs the converter with `args` in `cwd`, with a time limit, in a forked
// child so resource limits and identity apply to the converter alone.
RunResult run_converter(const std::string& cwd, const std::vector<std::string>& args, const RunLimits& limits = {}) {
    TempDir capture;
    const std::string err_path = capture / "err";
    std::vector<std::string> argv_text = {TRACEMILL_BINARY};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int null = ::open("/dev/null", O_RDWR);
        if (err < 0 || null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
        if (::chdir(cwd.c_str()) != 0) ::_exit(121);
        if (limits.file_size) {
            ::signal(SIGXFSZ, SIG_IGN);  // writes beyond the limit then fail with EFBIG
            const rlimit limit{*limits.file_size, *limits.file_size};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(122);
        }
        if (limits.unprivileged && ::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                ::setuid(nobody->pw_uid) != 0)
                ::_exit(123);
        }
        if (limits.address_space) {
            const rlimit limit{*limits.address_space, *limits.address_space};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(125);
        }
        ::alarm(limits.seconds);  // survives exec: a hung converter is killed
        ::execv(argv[0], argv.data());
        ::_exit(124);
    }
    RunResult result;
    int raw = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &raw, 0, &usage) != child) return result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(raw)) {
        result.status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        result.signal = WTERMSIG(raw);
        result.timed_out = result.signal == SIGALRM;
    }
    result.err = read_file(err_path);
    return result;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What every run on a damaged file must look like: it ended by itself and
// either converted the file or failed it with result 8 and said why.
void expect_converted_or_failed(const RunResult& run, const std::string& what) {
    ASSERT_FALSE(run.timed_out) << what << ": hung";
    ASSERT_EQ(run.signal, 0) << what << ": killed by signal " << run.signal << "\n" << run.err;
    EXPECT_TRUE(run.status == 0 || run.status == kOtherFailure) << what << ": status " << run.status << "\n" << run.err;
    if (run.status == kOtherFailure) {
        EXPECT_TRUE(contains(run.err, "Error during conversion of")) << what << "\n" << run.err;
    }
}

// A small log from the synthetic generator: every frame kind, data bytes in
// signal data blocks, two data groups.
tools::MdfImage small_log() {
    tools::GeneratorOptions options;
    options.frames = 40;
    options.data_groups = 2;
    options.mix.classic = 1;
    options.mix.fd = 1;
    options.mix.remote = 1;
    options.mix.error = 1;
    options.mix.lin = 1;
    return tools::write_mdf(tools::generate_log(options));
}

std::vector<uint64_t> block_offsets(const tools::MdfImage& image) {
    std::vector<uint64_t> offsets;
    image.offsets.for_each([&](const std::string&, uint64_t offset) { offsets.push_back(offset); });
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

// Offset of the data section of the block at `block`: header, then its links.
uint64_t data_section(const tools::MdfImage& image, uint64_t block) {
    const uint64_t link_count = tools::get_le(image.bytes, block + 16, 8);
    return block + 24 + 8 * link_count;
}

class HostileInputTest : public ::testing::Test {
protected:
    TempDir dir;

    RunResult convert(std::span<const uint8_t> bytes, const std::string& name = "in/log.mf4",
                      std::vector<std::string> extra = {}) {
        put_file(dir / name, bytes);
        extra.push_back(name);
        return run_converter(dir.path(), extra);
    }
};

TEST_F(HostileInputTest, TruncatedAtBlockBoundariesAndBetween) {
    const tools::MdfImage image = small_log();
    const size_t size = image.bytes.size();
    std::vector<uint64_t> cuts;
    for (uint64_t offset : block_offsets(image)) {
        // At the boundary (header missing) and just after the header (data or links missing).
        for (uint64_t cut : {offset, offset + 25})
            if (cut < size) cuts.push_back(cut);
    }
    for (uint64_t cut = 7; cut < size; cut += size / 24) cuts.push_back(cut);
    cuts.push_back(size - 1);

    const RunResult whole = convert(image.bytes);
    ASSERT_EQ(whole.status, 0) << whole.err;
    for (uint64_t cut : cuts) {
        const std::span<const uint8_t> part(image.bytes.data(), cut);
        const RunResult run = convert(part);
        expect_converted_or_failed(run, "cut at " + std::to_string(cut) + " of " + std::to_string(size));
        // Without the file header and its metadata nothing can be converted.
        if (cut < 64 + 24) {
            EXPECT_EQ(run.status, kOtherFailure) << "cut at " << cut;
        }
    }
}

// A container cut short fails with its layer's code once its header is
// there; before that the bytes are no container and fail as a log file.
TEST_F(HostileInputTest, TruncatedContainersFailWithTheirLayersCode) {
    const tools::MdfImage image = small_log();
    put_file(dir / "passwords.json",
             std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("{\"default\": \"pw\"}"), 17));
    tools::EncryptOptions encrypt;
    encrypt.password = "pw";
    encrypt.iterations = 1;
    struct {
        const char* name;
        std::vector<uint8_t> bytes;
        int code;
    } cases[] = {
        {"compressed", tools::write_compressed_container(image.bytes.data(), image.bytes.size(), {}), 4},
        {"encrypted", tools::write_encrypted_container(image.bytes.data(), image.bytes.size(), encrypt), kPasswordFailure},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        for (size_t cut : {size_t{5}, size_t{19}, size_t{20}, size_t{27}, size_t{40}, size_t{67}, size_t{68},
                           c.bytes.size() / 3, c.bytes.size() / 2, c.bytes.size() - 5, c.bytes.size() - 1}) {
            const RunResult run = convert(std::span<const uint8_t>(c.bytes.data(), cut), "in/log.mfc",
                                          {"-p", "passwords.json"});
            const std::string what = std::string(c.name) + " cut at " + std::to_string(cut);
            ASSERT_FALSE(run.timed_out) << what;
            ASSERT_EQ(run.signal, 0) << what;
            EXPECT_EQ(run.status, cut < 20 ? kOtherFailure : c.code) << what << "\n" << run.err;
        }
    }
}

TEST_F(HostileInputTest, RandomBitFlips) {
    const tools::MdfImage image = small_log();
    std::mt19937_64 random(20261208);
    for (int variant = 0; variant < 60; ++variant) {
        std::vector<uint8_t> bytes = image.bytes;
        const int flips = 1 + variant % 8;
        std::string what = "flips at";
        for (int i = 0; i < flips; ++i) {
            const uint64_t bit = random() % (bytes.size() * 8);
            bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            what += " " + std::to_string(bit);
        }
        expect_converted_or_failed(convert(bytes), what);
    }
}

struct LinkCycleCase {
    const char* name;
    const char* block;
    size_t link;
    const char* target;
};

TEST_F(HostileInputTest, LinkCyclesEndTheFile) {
    const LinkCycleCase cases[] = {
        {"data group points to itself", "dg0", 0, "dg0"},
        {"second data group points back to the first", "dg1", 0, "dg0"},
        {"channel group points to itself", "dg0.cg0", 0, "dg0.cg0"},
        {"channel points to itself", "dg0.cg0.cn0", 0, "dg0.cg0.cn0"},
        {"channel is its own composition", "dg0.cg0.cn1", 1, "dg0.cg0.cn1"},
        {"history points to itself", "fh0", 0, "fh0"},
        {"header's first data group is the header", "hd", 0, "hd"},
    };
    for (const LinkCycleCase& c : cases) {
        tools::GeneratorOptions options;
        options.frames = 10;
        options.data_groups = 2;
        tools::FileSpec spec = tools::generate_log(options);
        spec.link_patches.push_back({c.block, c.link, c.target, 0});
        tools::MdfImage image = tools::write_mdf(spec);
        ASSERT_NE(image.offset_of(c.block), 0u) << c.name;
        const RunResult run = convert(image.bytes);
        expect_converted_or_failed(run, c.name);
        EXPECT_LT(run.seconds, 5.0) << c.name;
    }
}

struct FieldPatchCase {
    const char* name;
    const char* block;
    uint64_t data_offset;  // within the block's data section; kHeaderLength: the header's length field
    size_t width;
    uint64_t value;
};
constexpr uint64_t kHeaderLength = ~0ull;

TEST_F(HostileInputTest, CountsAndSizesNearTheirTypeLimits) {
    const FieldPatchCase cases[] = {
        {"cycle count 2^64-1", "dg0.cg0", 8, 8, ~0ull},
        {"cycle count 2^63", "dg0.cg0", 8, 8, 1ull << 63},
        {"record size 2^32-1", "dg0.cg0", 24, 4, 0xFFFFFFFF},
        {"record size 2^31", "dg0.cg0", 24, 4, 0x80000000},
        {"invalidation bytes 2^32-1", "dg0.cg0", 28, 4, 0xFFFFFFFF},
        {"channel byte offset 2^32-1", "dg0.cg0.cn0", 4, 4, 0xFFFFFFFF},
        {"channel bit count 2^32-1", "dg0.cg0.cn0", 8, 4, 0xFFFFFFFF},
        {"payload channel bit count 2^32-1", "dg0.cg0.cn5", 8, 4, 0xFFFFFFFF},
        {"payload channel byte offset 2^31", "dg0.cg0.cn5", 4, 4, 0x80000000},
        {"data block length 2^64-1", "dg0.dt", kHeaderLength, 8, ~0ull},
        {"data block length 2^63", "dg0.dt", kHeaderLength, 8, 1ull << 63},
        {"channel group block length 2^64-1", "dg0.cg0", kHeaderLength, 8, ~0ull},
        {"header comment length 2^64-1", "hd.comment", kHeaderLength, 8, ~0ull},
        {"record id size 255", "dg0", 0, 1, 255},
    };
    for (const FieldPatchCase& c : cases) {
        tools::GeneratorOptions options;
        options.frames = 20;
        options.payload = tools::PayloadStorage::InRecord;
        tools::MdfImage image = tools::write_mdf(tools::generate_log(options));
        const uint64_t block = image.offset_of(c.block);
        ASSERT_NE(block, 0u) << c.name;
        const uint64_t at = c.data_offset == kHeaderLength ? block + 8 : data_section(image, block) + c.data_offset;
        tools::patch_le(image.bytes, at, c.value, c.width);
        const RunResult run = convert(image.bytes);
        expect_converted_or_failed(run, c.name);
        if (kMemoryIsMeasurable) {
            EXPECT_LT(run.max_rss_kb, 512 * 1024) << c.name;
        }
    }
}

// One row per hostile shape (by its row in tools::hostile_shapes()), run
// under the limits every input must stay within: 256 MiB of address space
// and 10 s, with a valid log after it in the same run, and a trace of at most
// 80 bytes per input byte. A row that is not `bounded` is run and reported
// only (for trying a new shape before the reader bounds it).
struct HostileRow {
    size_t shape;
    bool bounded;
    std::vector<int> results;  // accepted results of the hostile file
    const char* message;       // logged when bounded; none: nothing asked
    double seconds = 10;
    bool memory_follows_input = true;  // peak memory within 64 MiB + 4 x what the file holds
};

constexpr uint64_t kTraceBytesPerInputByte = 80;

uint64_t folder_bytes(const fs::path& folder, const fs::path& except) {
    uint64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path() != except) total += entry.file_size();
    return total;
}

TEST_F(HostileInputTest, HostileShapesStayWithinMemoryTimeAndOutputBounds) {
    if (!kMemoryIsMeasurable) GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
    const HostileRow rows[] = {
        {0, true, {0}, nullptr},
        {1, true, {kOtherFailure}, "hold more text than the file can"},
        {2, true, {4}, "Refusing to unwrap a second compressed layer"},
        {3, true, {4}, "Decompressed data exceeds 1024 times the compressed size"},
        {4, true, {kOtherFailure}, nullptr},
        {5, true, {kOtherFailure}, "Logger properties skipped: their keys take more room than the comments"},
        {6, true, {0}, nullptr},
        {7, true, {0}, nullptr},
        {8, true, {0}, "its data was already read by an earlier data group"},
        {9, true, {kPasswordFailure}, "exceeds the limit of 1000000", 2},
        {10, true, {0}, nullptr},
        {11, true, {0}, nullptr},
    };
    const auto shapes = tools::hostile_shapes();
    put_file(dir / "passwords.json", std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("{\"default\": \"pw\"}"), 17));
    put_file(dir / "in/good.mf4", tools::small_valid_log("600D0001"));
    fs::create_directories(dir / "reference");
    ASSERT_EQ(run_converter(dir.path(), {"-O", "reference", "in/good.mf4"}).status, 0);
    const std::string reference = read_file(dir / "reference/good_CAN.trc");
    ASSERT_FALSE(reference.empty());

    for (const HostileRow& row : rows) {
        const tools::HostileShape& shape = shapes[row.shape];
        const tools::HostileFile file = shape.build(shape.test_scale);
        const std::string name = "in/hostile" + file.suffix;
        ASSERT_TRUE(tools::write_hostile_file(file, dir / name)) << shape.name;
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        RunLimits limits;
        limits.address_space = rlim_t{256} << 20;
        limits.seconds = 10;
        const RunResult run = run_converter(dir.path(), {"-p", "passwords.json", "-O", "out", name, "in/good.mf4"}, limits);
        fs::remove(dir / name);

        std::string broken;
        if (run.timed_out) broken += " timed out;";
        if (run.signal != 0 && !run.timed_out) broken += " killed by signal " + std::to_string(run.signal) + ";";
        if (std::find(row.results.begin(), row.results.end(), run.status) == row.results.end())
            broken += " result " + std::to_string(run.status) + ";";
        if (row.message && !contains(run.err, row.message)) broken += " message missing;";
        if (run.seconds > row.seconds) broken += " took " + std::to_string(run.seconds) + " s;";
        if (!fs::exists(dir / "out/good_CAN.trc") || read_file(dir / "out/good_CAN.trc") != reference)
            broken += " the next file's trace is missing or incomplete;";
        const uint64_t input_size = std::max<uint64_t>(file.bytes.size(), file.sparse_size);
        const uint64_t output = fs::exists(dir / "out") ? folder_bytes(dir / "out", dir / "out/good_CAN.trc") : 0;
        if (output > kTraceBytesPerInputByte * input_size)
            broken += " " + std::to_string(output) + " output bytes from " + std::to_string(input_size) + ";";
        // What a file holds in memory: its bytes, and a compressed layer's content.
        const uint64_t held = file.bytes.size() * (file.suffix == ".mfc" ? 1 + 1024 : 1);
        if (row.memory_follows_input && uint64_t(run.max_rss_kb) * 1024 > (uint64_t{64} << 20) + 4 * held)
            broken += " peak memory " + std::to_string(run.max_rss_kb) + " KB;";
        const std::string what = "shape " + std::to_string(shape.number) + " (" + shape.name + ", " +
                                 std::to_string(input_size) + " bytes):";
        if (row.bounded) {
            EXPECT_TRUE(broken.empty()) << what << broken << "\n" << run.err;
        } else {
            std::printf("[ not asserted ] %s%s %.2f s\n", what.c_str(), broken.empty() ? " within bounds" : broken.c_str(),
                        run.seconds);
        }
    }
}

TEST_F(HostileInputTest, ExcessiveKeyDerivationRoundsAreRefusedFast) {
    const tools::MdfImage image = small_log();
    put_file(dir / "passwords.json",
             std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("{\"default\": \"pw\"}"), 17));
    for (uint32_t rounds : {0xFFFFFFFFu, 1'000'001u}) {
        tools::EncryptOptions options;
        options.password = "pw";
        options.iterations = 1;
        std::vector<uint8_t> bytes = tools::write_encrypted_container(image.bytes.data(), image.bytes.size(), options);
        ASSERT_FALSE(bytes.empty());
        for (int i = 0; i < 4; ++i) bytes[32 + i] = static_cast<uint8_t>(rounds >> (24 - 8 * i));
        const RunResult run = convert(bytes, "in/log.mfe", {"-p", "passwords.json"});
        EXPECT_EQ(run.status, kPasswordFailure) << rounds << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, "Could not decrypt file")) << run.err;
        EXPECT_LT(run.seconds, 0.5) << rounds;
    }
}

TEST_F(HostileInputTest, EmptyFileFails) {
    const RunResult run = convert({});
    EXPECT_EQ(run.status, kOtherFailure) << run.err;
    EXPECT_TRUE(contains(run.err, "Error during conversion of")) << run.err;
}

TEST_F(HostileInputTest, SymbolicLinkLoopsInFoldersEnd) {
    const tools::MdfImage image = small_log();
    put_file(dir / "in/logs/a.mf4", image.bytes);
    fs::create_directory_symlink("..", dir / "in/logs/up");       // back to the parent
    fs::create_directory_symlink(".", dir / "in/logs/here");      // to the folder itself
    fs::create_symlink("self.mf4", dir / "in/logs/self.mf4");     // a link to itself
    const RunResult run = run_converter(dir.path(), {"in/logs"});
    ASSERT_FALSE(run.timed_out);
    ASSERT_EQ(run.signal, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir / "in/logs_out/a_CAN.trc")) << run.err;
    // The self link cannot be resolved and is passed over; the folder links are not walked again.
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(HostileInputTest, FifoAndDeviceInputsAreNotRead) {
    fs::create_directories(dir / "in");
    ASSERT_EQ(::mkfifo((dir / "in/fifo.mf4").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", dir / "in/device.mf4");
    struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"fifo named", {"in/fifo.mf4"}},
        {"device named", {"in/device.mf4"}},
    };
    for (const auto& c : cases) {
        const RunResult run = run_converter(dir.path(), c.args);
        ASSERT_FALSE(run.timed_out) << c.name << ": blocked on the input";
        EXPECT_EQ(run.status, kNotFileOrFolder) << c.name << "\n" << run.err;
    }
    // Inside a folder such entries are not log files and are passed over.
    const RunResult run = run_converter(dir.path(), {"in"});
    ASSERT_FALSE(run.timed_out) << "blocked on an input in a folder";
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(HostileInputTest, UnwritableOutputKeepsTheInput) {
    const tools::MdfImage image = small_log();
    // Read-only for everybody but root: the converter runs as "nobody" when
    // the tests run as root, since root writes anywhere.
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "readonly");
    fs::permissions(dir / "in", fs::perms::all);
    fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // The trace file's name taken by a folder: opening it for writing fails for root too.
    fs::create_directories(dir / "taken/log_CAN.trc");
    struct {
        const char* name;
        std::string output;
        bool unprivileged;
    } cases[] = {
        {"read-only output folder", "readonly", true},
        {"trace file name taken by a folder", "taken", false},
    };
    for (const auto& c : cases) {
        put_file(dir / "in/log.mf4", image.bytes);
        fs::permissions(dir / "in/log.mf4", fs::perms::all);
        const RunResult run = run_converter(dir.path(), {"-d", "-O", c.output, "in/log.mf4"}, {{}, c.unprivileged});
        ASSERT_EQ(run.signal, 0) << c.name;
        EXPECT_EQ(run.status, kOtherFailure) << c.name << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, "Could not open output file for CAN")) << c.name << "\n" << run.err;
        EXPECT_TRUE(fs::exists(dir / "in/log.mf4")) << c.name << ": input deleted";
    }
}

TEST_F(HostileInputTest, FullDiskMidFileKeepsTheInput) {
    tools::GeneratorOptions options;
    options.frames = 50000;  // a trace of several output buffers, written in the background
    put_file(dir / "in/log.mf4", tools::write_mdf(tools::generate_log(options)).bytes);
    fs::create_directories(dir / "out");
    const RunResult run = run_converter(dir.path(), {"-d", "-O", "out", "in/log.mf4"}, {64 * 1024, false});
    ASSERT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.status, kOtherFailure) << run.err;
    EXPECT_TRUE(contains(run.err, "Error during conversion of")) << run.err;
    EXPECT_TRUE(contains(run.err, "Could not write CAN data")) << run.err;
    EXPECT_TRUE(fs::exists(dir / "in/log.mf4")) << "input deleted after a failed write";
}

}  // namespace
}  // namespace tracemill
