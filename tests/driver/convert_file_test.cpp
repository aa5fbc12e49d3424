// Converting one file: identity parsing, repeat and continuation decisions,
// result codes and messages of every way a file can end, the sink protocol, -d.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "container_writer.h"
#include "driver/conversion_context.h"
#include "driver/file_info.h"
#include "common/log.h"
#include "mdf_writer.h"
#include "trc/memory_output_root.h"
#include "trc/trc_writer.h"
#include "temp_dir.h"

namespace tracemill {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- identity

TEST(PropertyNumber, ReadsLeadingDecimalDigits) {
    struct Case {
        const char* text;
        uint32_t expected;
    };
    const std::vector<Case> cases = {
        {"12", 12},         {"  7x", 7},       {"\t\n\v\f\r 3", 3}, {"", 0},
        {"abc", 0},         {"-5", 0},         {"+3", 0},           {"0042", 42},
        {"4294967295", UINT32_MAX},            {"4294967296", UINT32_MAX},
        {"99999999999999999999999999", UINT32_MAX},                  {"1 2", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_property_number(c.text), c.expected) << '"' << c.text << '"';
}

TEST(StartTime, WholeMicrosecondsOfTheHeaderTime) {
    EXPECT_DOUBLE_EQ(start_time_seconds(1'700'000'000'250'000'999ULL), 1'700'000'000.25);
    EXPECT_EQ(start_time_seconds(999), 0.0);
    EXPECT_EQ(start_time_seconds(1'000), 1e-6);
}

FileInfo identity(const char* serial, uint32_t session, uint32_t split) {
    FileInfo info;
    info.serial = serial;
    info.session = session;
    info.split = split;
    return info;
}

TEST(FileRelationTest, RepeatsAndContinuations) {
    struct Case {
        const char* name;
        FileInfo previous;
        FileInfo current;
        bool repeated;
        bool continuation;
    };
    const std::vector<Case> cases = {
        {"first file of the run", identity("", 0, 0), identity("A", 1, 1), false, false},
        {"next split", identity("A", 1, 1), identity("A", 1, 2), false, true},
        {"split after next", identity("A", 1, 1), identity("A", 1, 3), false, false},
        {"same split again", identity("A", 3, 7), identity("A", 3, 7), true, true},
        {"earlier split", identity("A", 1, 2), identity("A", 1, 1), false, false},
        {"new session, split 2 after 1", identity("A", 1, 1), identity("A", 2, 2), false, false},
        {"new session, split 257 after 256", identity("A", 1, 256), identity("A", 2, 257), false, true},
        {"new session, split 513 after 512", identity("A", 4, 512), identity("A", 5, 513), false, true},
        {"new session, split 257 after 256 but session skipped", identity("A", 1, 256), identity("A", 3, 257),
         false, false},
        {"other logger, same numbers", identity("A", 1, 1), identity("B", 1, 1), false, false},
        {"other logger, next split", identity("A", 1, 1), identity("B", 1, 2), false, false},
        {"serial differing in case", identity("abc", 1, 1), identity("ABC", 1, 2), false, false},
        {"split counter wraps", identity("A", 9, UINT32_MAX), identity("A", 9, 0), false, true},
    };
    for (const Case& c : cases) {
        FileRelation relation = relate_to_previous(c.previous, c.current);
        EXPECT_EQ(relation.repeated, c.repeated) << c.name;
        EXPECT_EQ(relation.continuation, c.continuation) << c.name;
    }
}

// ---------------------------------------------------------------- pipeline


void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        std::fclose(file);
        return;
    }
    ASSERT_TRUE(tools::write_bytes(path, bytes)) << path;
}

// Remembers every call in a readable form and fails on request.
class RecordingSink : public OutputSink {
public:
    std::vector<std::string> events;
    bool fail_new_file = false;
    bool fail_end_file = false;
    int fail_record_at = -1;  // index of the record whose call fails
    int out_of_memory_at = -1;  // index of the record whose call finds no memory

    bool new_file(const FileInfo& info, bool continuation) override {
        events.push_back("new " + info.output_stem + " " + info.serial + " " + std::to_string(info.session) + "/" +
                         std::to_string(info.split) + (continuation ? " cont" : ""));
        return !fail_new_file;
    }
    bool record(const BusRecord& record) override {
        char text[64];
        std::snprintf(text, sizeof text, "rec %u %X %.6f", static_cast<unsigned>(record.kind), record.id,
                      record.timestamp);
        events.push_back(text);
        if (static_cast<int>(records) == out_of_memory_at) throw std::bad_alloc();
        return static_cast<int>(records++) != fail_record_at;
    }
    bool end_file(const FileInfo& info) override {
        events.push_back("end " + info.output_stem);
        return !fail_end_file;
    }
    // Everything was taken and is kept.
    FileOutcome outcome() const override { return {.passed_over = {}, .durable = true}; }

private:
    size_t records = 0;
};

// Delegates to a local folder; removal can be made to fail.
class FaultyRoot : public FileSystemRoot {
public:
    explicit FaultyRoot(const std::string& path) : FileSystemRoot(path), local_(local_root_new(path)) {}
    bool fail_remove = false;
    std::optional<PathInfo> stat(std::string_view p) override { return local_->stat(p); }
    OpenedInput open_input(std::string_view p) override { return local_->open_input(p); }
    InputRemoval remove_input(std::string_view p, const InputIdentity& identity) override {
        return fail_remove ? InputRemoval{} : local_->remove_input(p, identity);
    }

private:
    std::unique_ptr<FileSystemRoot> local_;
};

class ConvertFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_log_threshold(kInfo);
        root = std::make_unique<FaultyRoot>(dir.path());
        context.input_root = root.get();
        context.output_root = root.get();
        context.options = &options;
        context.sink = &sink;
    }
    void TearDown() override { set_log_threshold(0); }

    // Converts `name` and keeps what was logged.
    int convert(const std::string& name, const std::string& stem = "out") {
        ::testing::internal::CaptureStderr();
        int result = convert_file(context, name, stem);
        log = ::testing::internal::GetCapturedStderr();
        return result;
    }
    bool logged(const std::string& text) const { return log.find(text) != std::string::npos; }

    TempDir dir;
    std::unique_ptr<FaultyRoot> root;
    RunOptions options;
    RecordingSink sink;
    ConversionContext context;
    std::string log;
};

std::vector<uint8_t> compressed(std::vector<uint8_t> content, uint32_t device_id = 0) {
    tools::CompressOptions options;
    options.device_id = device_id;
    return tools::write_compressed_container(content.data(), content.size(), options);
}

std::vector<uint8_t> encrypted(std::vector<uint8_t> content, const char* password, uint32_t device_id) {
    tools::EncryptOptions options;
    options.password = password;
    options.device_id = device_id;
    options.iterations = 10;
    return tools::write_encrypted_container(content.data(), content.size(), options);
}

// Files that end before the sink is involved, each read without a buffer,
// with one smaller than the file and with a whole-file buffer.
TEST_F(ConvertFileTest, EarlyEndsGiveTheirCodeAndMessage) {
    std::vector<uint8_t> not_mdf(200, 0x55);
    std::vector<uint8_t> bad_crc = compressed(not_mdf);
    bad_crc.back() ^= 0xFF;
    std::vector<uint8_t> unknown_type = tools::container_header_bytes(99, 1, 0, 0);
    unknown_type.resize(100, 0);

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;  // empty name below: no file at all
        bool exists;
        int expected;
        const char* message;  // nullptr: nothing at level 5
    };
    const std::vector<Case> cases = {
        {"missing file", {}, false, 8, "Could not open input file in.mf4"},
        {"empty file", {}, true, 8, "Could not open MDF"},
        {"not an MDF file", not_mdf, true, 8, "Could not open MDF"},
        {"compressed container with a wrong CRC", bad_crc, true, 4, "Could not decompress file"},
        {"compressed container holding no MDF file", compressed(not_mdf), true, 8, "Could not open MDF"},
        {"encrypted without any password", encrypted(not_mdf, "pw", 0x0012ABCD), true, 2,
         "No password found for device 0012ABCD"},
        {"unknown container type", unknown_type, true, 8, nullptr},
    };
    for (int64_t buffer : {int64_t{-1}, int64_t{0}, int64_t{24}}) {
        options.buffer_size = buffer;
        for (const Case& c : cases) {
            fs::remove(dir / "in.mf4");
            if (c.exists) write_file(dir / "in.mf4", c.bytes);
            EXPECT_EQ(convert("in.mf4"), c.expected) << c.name << ", buffer " << buffer;
            if (c.message) {
                EXPECT_TRUE(logged(c.message)) << c.name << ", buffer " << buffer << ": " << log;
            } else {
                EXPECT_EQ(log.find(" E "), std::string::npos) << c.name << ": " << log;
            }
            EXPECT_TRUE(sink.events.empty()) << c.name;
            EXPECT_TRUE(context.previous.serial.empty()) << c.name;
        }
    }
}

TEST_F(ConvertFileTest, ContainerMessagesAndPasswords) {
    std::vector<uint8_t> not_mdf(300, 0x42);
    write_file(dir / "c.mfc", compressed(not_mdf));
    EXPECT_EQ(convert("c.mfc"), 8);
    EXPECT_TRUE(logged("Found compressed file"));

    options.passwords.insert("0000BEEF", SecretText("right"));
    write_file(dir / "e.mfe", encrypted(not_mdf, "wrong", 0xBEEF));
    EXPECT_EQ(convert("e.mfe"), 2);
    EXPECT_TRUE(logged("Found encrypted file"));
    EXPECT_TRUE(logged("Could not decrypt file"));

    // The right password, then a compressed layer inside: both are peeled.
    write_file(dir / "ec.mfe", encrypted(compressed(not_mdf), "right", 0xBEEF));
    EXPECT_EQ(convert("ec.mfe"), 8);
    EXPECT_TRUE(logged("Found encrypted file"));
    EXPECT_TRUE(logged("Found compressed file"));
    EXPECT_TRUE(logged("Could not open MDF"));

    // An unknown device falls back to the default password.
    options.passwords.insert("default", SecretText("fallback"));
    write_file(dir / "d.mfe", encrypted(not_mdf, "fallback", 0x1234));
    EXPECT_EQ(convert("d.mfe"), 8);
    EXPECT_TRUE(logged("Could not open MDF"));
    EXPECT_FALSE(logged("Could not decrypt file"));
}

TEST_F(ConvertFileTest, SecondLayerOfAKindIsRefused) {
    std::vector<uint8_t> bytes(64, 7);
    for (int i = 0; i < 70; ++i) bytes = compressed(bytes);
    write_file(dir / "deep.mfc", bytes);
    EXPECT_EQ(convert("deep.mfc"), 4);
    EXPECT_TRUE(logged("Refusing to unwrap a second compressed layer"));

    options.passwords.insert("default", SecretText("right"));
    write_file(dir / "twice.mfe", encrypted(compressed(encrypted(bytes, "right", 1)), "right", 1));
    EXPECT_EQ(convert("twice.mfe"), 2);
    EXPECT_TRUE(logged("Refusing to unwrap a second encrypted layer"));
}


// ---------------------------------------------------------------- whole files

constexpr uint64_t kStart = 1'700'000'000'000'000'000ULL;  // ns

tools::LoggerProperties logger(const char* serial, uint32_t session, uint32_t split) {
    tools::LoggerProperties who;
    who.serial = serial;
    who.session = session;
    who.split = split;
    return who;
}

// A logger file with a CAN data group (frames at 0.5 s and 1.25 s) and a LIN frame.
tools::FileSpec log_spec(const tools::LoggerProperties& who) {
    tools::FileSpec spec = tools::logger_file(who, kStart);
    tools::BusDataGroup can;
    size_t frames = can.add_group(tools::BusGroupKind::CanDataFrame);
    can.add(frames, tools::CanFrame{.time = 0.5, .id = 0x123, .data = {1, 2}});
    can.add(frames, tools::CanFrame{.time = 1.25, .id = 0x456, .data = {3}});
    spec.data_groups.push_back(can.take());
    tools::BusDataGroup lin;
    size_t lin_frames = lin.add_group(tools::BusGroupKind::LinFrame);
    lin.add(lin_frames, tools::LinFrame{.time = 1.0, .id = 0x21, .data = {9}});
    spec.data_groups.push_back(lin.take());
    return spec;
}

std::vector<uint8_t> log_bytes(const tools::LoggerProperties& who) { return tools::write_mdf(log_spec(who)).bytes; }

const std::vector<std::string> kLogEvents = {
    "new out 0000ABCD 1/1", "rec 1 123 1700000000.500000", "rec 4 21 1700000001.000000",
    "rec 1 456 1700000001.250000", "end out"};

TEST_F(ConvertFileTest, ConvertedFileGoesThroughTheSinkInTimeOrder) {
    write_file(dir / "a.mf4", log_bytes(logger("0000ABCD", 1, 1)));
    for (int64_t buffer : {int64_t{-1}, int64_t{0}, int64_t{100}}) {
        options.buffer_size = buffer;
        sink.events.clear();
        context.previous = FileInfo{};
        EXPECT_EQ(convert("a.mf4"), 0) << log;
        EXPECT_EQ(sink.events, kLogEvents) << "buffer " << buffer;
        EXPECT_EQ(context.previous.serial, "0000ABCD");
        EXPECT_EQ(context.previous.input_path, "a.mf4");
        EXPECT_DOUBLE_EQ(context.previous.start_time, 1'700'000'000.0);
        EXPECT_TRUE(fs::exists(dir / "a.mf4"));
    }
}

// Decrypted in the whole-file window, or copied out of a file read without
// one or through a smaller one: the same records.
TEST_F(ConvertFileTest, EncryptedFilesConvertWithEveryBuffer) {
    options.passwords.insert("default", SecretText("pw"));
    const std::vector<uint8_t> bytes = log_bytes(logger("0000ABCD", 1, 1));
    write_file(dir / "e.mfe", encrypted(bytes, "pw", 0xABCD));
    write_file(dir / "ec.mfm", encrypted(compressed(bytes), "pw", 0xABCD));
    write_file(dir / "ce.mfc", compressed(encrypted(bytes, "pw", 0xABCD)));
    for (const char* name : {"e.mfe", "ec.mfm", "ce.mfc"}) {
        for (int64_t buffer : {int64_t{-1}, int64_t{0}, int64_t{100}}) {
            options.buffer_size = buffer;
            sink.events.clear();
            context.previous = FileInfo{};
            EXPECT_EQ(convert(name), 0) << name << ", buffer " << buffer << ": " << log;
            EXPECT_EQ(sink.events, kLogEvents) << name << ", buffer " << buffer;
        }
    }
}

// A run over splits of one logger: continuations, a copy, a gap, another logger; with -d.
TEST_F(ConvertFileTest, RepeatsAreSkippedAndKeptContinuationsFlagged) {
    options.delete_converted = true;
    struct Step {
        const char* file;
        tools::LoggerProperties who;
        const char* first_event;  // nullptr: no sink call at all
        bool kept;
    };
    const std::vector<Step> steps = {
        {"1.mf4", logger("0000ABCD", 1, 1), "new out 0000ABCD 1/1", false},
        {"2.mf4", logger("0000ABCD", 1, 2), "new out 0000ABCD 1/2 cont", false},
        {"2copy.mf4", logger("0000ABCD", 1, 2), nullptr, true},
        {"4.mf4", logger("0000ABCD", 1, 4), "new out 0000ABCD 1/4", false},
        {"other.mf4", logger("0000ABCE", 1, 5), "new out 0000ABCE 1/5", false},
    };
    for (const Step& step : steps) {
        write_file(dir / step.file, log_bytes(step.who));
        sink.events.clear();
        EXPECT_EQ(convert(step.file), 0) << step.file << ": " << log;
        if (step.first_event) {
            ASSERT_FALSE(sink.events.empty()) << step.file;
            EXPECT_EQ(sink.events.front(), step.first_event) << step.file;
            EXPECT_FALSE(logged("Repeated input file")) << step.file;
        } else {
            EXPECT_TRUE(sink.events.empty()) << step.file;
            EXPECT_TRUE(logged("Repeated input file (0000ABCD, 00000001, 00000002)")) << step.file << ": " << log;
        }
        EXPECT_EQ(fs::exists(dir / step.file), step.kept) << step.file;
    }
}

TEST_F(ConvertFileTest, HeaderWithoutIdentityFailsAndKeepsThePreviousOne) {
    const std::string tree_open = "<HDcomment><common_properties><tree name=\"Device\">";
    const std::string tree_close = "</tree></common_properties></HDcomment>";
    const std::vector<std::pair<const char*, std::string>> comments = {
        {"no serial", tree_open + "<e name=\"session\">1</e><e name=\"split\">1</e>" + tree_close},
        {"no split", tree_open + "<e name=\"serial number\">X</e><e name=\"session\">1</e>" + tree_close},
        {"session 0", tree_open + "<e name=\"serial number\">X</e><e name=\"session\">0</e><e name=\"split\">1</e>" +
                          tree_close},
        {"split not a number", tree_open +
                                   "<e name=\"serial number\">X</e><e name=\"session\">2</e><e name=\"split\">n</e>" +
                                   tree_close},
        {"malformed XML", tree_open + "<e name=\"serial number\">X</e" + tree_close},
        {"no header comment", ""},
    };
    options.delete_converted = true;
    for (const auto& [name, comment] : comments) {
        tools::FileSpec spec = log_spec(logger("0000ABCD", 1, 1));
        spec.header.comment.text = comment;
        write_file(dir / "h.mf4", tools::write_mdf(spec).bytes);
        context.previous = identity("EARLIER", 3, 4);
        EXPECT_EQ(convert("h.mf4"), 8) << name;
        EXPECT_TRUE(logged("Could not parse file header")) << name << ": " << log;
        EXPECT_EQ(context.previous.serial, "EARLIER") << name;
        EXPECT_TRUE(sink.events.empty()) << name;
        EXPECT_TRUE(fs::exists(dir / "h.mf4")) << name;
    }
}

TEST_F(ConvertFileTest, SinkFailuresFailTheFileAndKeepTheInput) {
    struct Case {
        const char* name;
        bool fail_new_file;
        int fail_record_at;
        bool fail_end_file;
        const char* message;
        std::vector<std::string> events;
        int out_of_memory_at = -1;
    };
    const std::vector<Case> cases = {
        {"new_file", true, -1, false, "Error on new file", {"new out 0000ABCD 1/1", "end out"}},
        {"second record", false, 1, false, "Error during handle record callback",
         {"new out 0000ABCD 1/1", "rec 1 123 1700000000.500000", "rec 4 21 1700000001.000000", "end out"}},
        {"end_file", false, -1, true, "Error during end file callback", kLogEvents},
        // Memory running out anywhere in a file ends that file, not the run.
        {"no memory at the second record", false, -1, false, "Out of memory while converting s.mf4",
         {"new out 0000ABCD 1/1", "rec 1 123 1700000000.500000", "rec 4 21 1700000001.000000"}, 1},
    };
    options.delete_converted = true;
    write_file(dir / "s.mf4", log_bytes(logger("0000ABCD", 1, 1)));
    for (const Case& c : cases) {
        RecordingSink fresh;
        fresh.fail_new_file = c.fail_new_file;
        fresh.fail_record_at = c.fail_record_at;
        fresh.fail_end_file = c.fail_end_file;
        fresh.out_of_memory_at = c.out_of_memory_at;
        context.sink = &fresh;
        context.previous = FileInfo{};
        EXPECT_EQ(convert("s.mf4"), 8) << c.name;
        EXPECT_TRUE(logged(c.message)) << c.name << ": " << log;
        EXPECT_EQ(fresh.events, c.events) << c.name;
        EXPECT_TRUE(fs::exists(dir / "s.mf4")) << c.name;
    }
}

TEST_F(ConvertFileTest, DeletionAfterSuccessOnlyAndItsFailureIsNoConversionFailure) {
    options.delete_converted = true;
    write_file(dir / "d.mf4", log_bytes(logger("0000ABCD", 1, 1)));
    root->fail_remove = true;
    EXPECT_EQ(convert("d.mf4"), 0);
    EXPECT_TRUE(logged("Could not remove input file after conversion: d.mf4")) << log;
    EXPECT_TRUE(fs::exists(dir / "d.mf4"));

    root->fail_remove = false;
    context.previous = FileInfo{};
    EXPECT_EQ(convert("d.mf4"), 0);
    EXPECT_FALSE(fs::exists(dir / "d.mf4"));
}

TEST_F(ConvertFileTest, TraceWriterWhoseOutputCannotBeOpened) {
    testing::MemoryOutputRoot output;
    output.fail_create = true;
    auto writer = trc_writer_new(&output, 2, false);
    context.sink = writer.get();
    write_file(dir / "w.mf4", log_bytes(logger("0000ABCD", 1, 1)));
    EXPECT_EQ(convert("w.mf4", "sub/w"), 8);
    EXPECT_TRUE(logged("Could not open output file for CAN: sub/w_CAN.trc")) << log;
    EXPECT_TRUE(logged("Error during end file callback"));

    // The same writer converts the next file once its output opens.
    output.fail_create = false;
    context.previous = FileInfo{};
    EXPECT_EQ(convert("w.mf4", "sub/w"), 0) << log;
    EXPECT_EQ(output.files["sub/w_CAN.trc"],
              ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259317130\n;$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0123 Rx 2    01 02\n"
              "      2       750.000 DT 1     0456 Rx 1    03\n");
}

}  // namespace
}  // namespace tracemill
