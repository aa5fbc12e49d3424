// Encrypted containers: key derivation, a container made by an independent
// implementation, round trips through the writer, decryption in the
// container's own memory, and every way a container must be refused without
// its plaintext being handed out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "container_writer.h"
#include "streams/compressed_container.h"
#include "streams/container_test_support.h"
#include "streams/encrypted_container.h"
#include "streams/memory_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::ExhaustedDestination;
using testing_support::mixed_content;
using testing_support::read_all;
using testing_support::ScriptedStream;
using testing_support::stderr_of;
using testing_support::stream_over;
using testing_support::TempFile;

std::vector<uint8_t> from_hex(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::vector<uint8_t> text_bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Written by a separate AES-GCM and PBKDF2 implementation: password
// "k3y-for-00ABCDEF", salt 00..0F, 1000 rounds, iv A0..AB, device 00ABCDEF.
constexpr std::string_view kIndependentContainer =
    "47656e657269632046696c650000110100abcdefa0a1a2a3a4a5a6a7a8a9aaab000003e8000102030405060708090a0b0c0d0e0f"
    "2dcad8c19e5d7fd2a637dc782c3835c0e8e562758203fb51daeec2056c0d524fa5a1e55c50aab28b7a6e6def58ae5f3c5aa11082"
    "c67bf127ed6bd6";
constexpr std::string_view kIndependentPlaintext = "Plaintext spanning more than one AES block.";

tools::EncryptOptions options_with(std::string password, uint32_t iterations = 100) {
    tools::EncryptOptions options;
    options.password = std::move(password);
    options.iterations = iterations;
    options.device_id = 0x1234;
    for (size_t i = 0; i < options.iv.size(); ++i) options.iv[i] = static_cast<uint8_t>(0x30 + i);
    for (size_t i = 0; i < options.salt.size(); ++i) options.salt[i] = static_cast<uint8_t>(0x90 + i);
    return options;
}

std::optional<std::vector<uint8_t>> decrypt(const std::vector<uint8_t>& container, std::string_view password) {
    auto stream = stream_over(container);
    ContainerHeader header;
    if (!read_container_header(stream.get(), header)) return std::nullopt;
    StreamPtr opened = open_decrypted_stream(stream.get(), header, password);
    if (!opened) return std::nullopt;
    std::vector<uint8_t> plaintext = read_all(opened.get());
    EXPECT_EQ(stream_close(std::move(opened)), 0);
    return plaintext;
}

TEST(DecryptKey, MatchesThePublishedPbkdf2Sha256Vector) {
    // PBKDF2-HMAC-SHA-256("passwd", "salt", 1), first 32 bytes (RFC 7914).
    const uint8_t salt[] = {'s', 'a', 'l', 't'};
    uint8_t key[kContainerKeySize];
    ASSERT_TRUE(derive_container_key("passwd", salt, sizeof salt, 1, key));
    EXPECT_EQ(std::vector<uint8_t>(key, key + sizeof key),
              from_hex("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
}

TEST(DecryptKey, ZeroRoundsDeriveTheKeyOfOne) {
    const uint8_t salt[16] = {1, 2, 3};
    uint8_t zero[kContainerKeySize];
    uint8_t one[kContainerKeySize];
    ASSERT_TRUE(derive_container_key("pw", salt, sizeof salt, 0, zero));
    ASSERT_TRUE(derive_container_key("pw", salt, sizeof salt, 1, one));
    EXPECT_EQ(std::vector<uint8_t>(zero, zero + sizeof zero), std::vector<uint8_t>(one, one + sizeof one));
}

TEST(EncryptedContainer, OpensAContainerMadeElsewhere) {
    EXPECT_EQ(decrypt(from_hex(kIndependentContainer), "k3y-for-00ABCDEF"), text_bytes(kIndependentPlaintext));
}

TEST(EncryptedContainer, RoundTripsContentOfEverySize) {
    for (size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{511}, size_t{512}, size_t{513},
                        size_t{65536}, size_t{65536 + 7}, size_t{300000}}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> content = mixed_content(size, static_cast<uint32_t>(size));
        const std::vector<uint8_t> container =
            tools::write_encrypted_container(content.data(), content.size(), options_with("pw"));
        ASSERT_EQ(container.size(), size + 68);
        EXPECT_EQ(decrypt(container, "pw"), content);
    }
}

TEST(EncryptedContainer, SixtyEightByteContainerYieldsAnEmptyStream) {
    const std::vector<uint8_t> container = tools::write_encrypted_container(nullptr, 0, options_with("pw"));
    ASSERT_EQ(container.size(), 68u);
    auto source = stream_over(container);
    ContainerHeader header;
    ASSERT_TRUE(read_container_header(source.get(), header));
    StreamPtr opened = open_decrypted_stream(source.get(), header, "pw");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(stream_tell(opened.get()), 0);
    uint8_t byte;
    EXPECT_EQ(stream_read(opened.get(), &byte, 1), 0);
}

TEST(EncryptedContainer, AnyChangedByteFailsTheTagCheck) {
    const std::vector<uint8_t> content = mixed_content(1000, 3);
    const std::vector<uint8_t> container =
        tools::write_encrypted_container(content.data(), content.size(), options_with("pw"));
    struct Change {
        const char* what;
        size_t offset;
        uint8_t mask;
    };
    const Change changes[] = {
        {"check flag 0 to 1", 12, 0x01}, {"device id", 19, 0x10},  {"iv", 25, 0x80},
        {"iteration count", 35, 0x01},   {"salt", 40, 0x04},       {"first ciphertext byte", 52, 0x01},
        {"last ciphertext byte", 52 + 999, 0x40}, {"tag", container.size() - 1, 0x01},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        std::vector<uint8_t> tampered = container;
        tampered[change.offset] ^= change.mask;
        EXPECT_FALSE(decrypt(tampered, "pw").has_value());
    }
}

TEST(EncryptedContainer, WrongPasswordFails) {
    const std::vector<uint8_t> content = mixed_content(5000, 4);
    const std::vector<uint8_t> container =
        tools::write_encrypted_container(content.data(), content.size(), options_with("right"));
    for (std::string_view password : {"wrong", "", "right ", "Right", "default"}) {
        SCOPED_TRACE(password);
        EXPECT_FALSE(decrypt(container, password).has_value());
    }
    EXPECT_EQ(decrypt(container, "right"), content);
}

TEST(EncryptedContainer, RefusesHeadersItCannotUse) {
    const std::vector<uint8_t> content = mixed_content(100, 5);
    struct Case {
        const char* name;
        uint8_t check_flag, footer_flag, format_version;
    };
    const Case cases[] = {{"footer flag 1", 0, 1, 1}, {"check flag 2", 2, 0, 1}, {"format version 2", 0, 0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tools::EncryptOptions options = options_with("pw");
        options.check_flag = c.check_flag;
        options.footer_flag = c.footer_flag;
        options.format_version = c.format_version;
        EXPECT_FALSE(decrypt(tools::write_encrypted_container(content.data(), content.size(), options), "pw"));
    }
    // A compressed container is not decrypted.
    const std::vector<uint8_t> compressed = tools::write_compressed_container(content.data(), content.size(), {});
    EXPECT_FALSE(decrypt(compressed, "pw").has_value());
}

TEST(EncryptedContainer, ShortContainersFail) {
    const std::vector<uint8_t> container = tools::write_encrypted_container(nullptr, 0, options_with("pw"));
    for (size_t length : {size_t{20}, size_t{40}, size_t{51}, size_t{52}, size_t{67}}) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(decrypt({container.begin(), container.begin() + static_cast<ptrdiff_t>(length)}, "pw"));
    }
}

TEST(EncryptedContainer, RefusesAbsurdIterationCountsWithoutDerivingAKey) {
    for (uint32_t iterations : {kMaxPbkdf2Iterations + 1, 0xFFFFFFFFu}) {
        SCOPED_TRACE(iterations);
        std::vector<uint8_t> container = tools::write_encrypted_container(nullptr, 0, options_with("pw", 1));
        for (int i = 0; i < 4; ++i) container[32 + i] = static_cast<uint8_t>(iterations >> (24 - 8 * i));
        std::optional<std::vector<uint8_t>> result;
        const auto start = std::chrono::steady_clock::now();
        const std::string log = stderr_of([&] { result = decrypt(container, "pw"); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_FALSE(result.has_value());
        EXPECT_NE(log.find("iteration count " + std::to_string(iterations) + " exceeds the limit of 1000000"),
                  std::string::npos)
            << log;
    }
}

TEST(EncryptedContainer, RunningOutOfMemoryEndsTheFileWithAMessage) {
    const std::vector<uint8_t> content = mixed_content(200000, 6);
    const std::vector<uint8_t> container =
        tools::write_encrypted_container(content.data(), content.size(), options_with("pw"));
    auto source = stream_over(container);
    ContainerHeader header;
    ASSERT_TRUE(read_container_header(source.get(), header));
    ExhaustedDestination destination(100000);
    bool ok = true;
    const std::string log = stderr_of([&] { ok = decrypt_container(source.get(), header, "pw", &destination); });
    EXPECT_FALSE(ok);
    EXPECT_NE(log.find("Out of memory while storing decrypted data"), std::string::npos) << log;
}

TEST(EncryptedContainer, ReadErrorInTheCiphertextFails) {
    const std::vector<uint8_t> content = mixed_content(200000, 7);
    ScriptedStream source(tools::write_encrypted_container(content.data(), content.size(), options_with("pw")));
    ContainerHeader header;
    ASSERT_TRUE(read_container_header(&source, header));
    source.fail_read_at_call = source.reads + 6;
    EXPECT_EQ(open_decrypted_stream(&source, header, "pw"), nullptr);
}

// The driver's way: a container that can hand its memory over is decrypted
// there and left empty, with the same result as a copy; others are only read.
TEST(EncryptedContainer, DecryptsInTheContainersMemoryWhereItCan) {
    const std::vector<uint8_t> content = mixed_content(300000, 9);
    const std::vector<uint8_t> container =
        tools::write_encrypted_container(content.data(), content.size(), options_with("pw"));
    std::vector<uint8_t> tampered = container;
    tampered[52 + 150000] ^= 0x20;
    const std::vector<uint8_t> empty = tools::write_encrypted_container(nullptr, 0, options_with("pw"));
    TempFile file(container);
    auto window = [&](uint64_t capacity) -> StreamPtr {
        StreamPtr stream = open_buffered_stream(open_file_stream(file.path(), kFileRead), capacity);
        uint8_t first = 0;
        return stream && stream_read(stream.get(), &first, 1) == 1 ? std::move(stream) : nullptr;
    };
    struct Case {
        const char* name;
        std::function<StreamPtr()> source;
        const char* password;
        std::optional<std::vector<uint8_t>> expected;
        bool in_place;
    };
    const Case cases[] = {
        {"memory", [&] { return stream_over(container); }, "pw", content, true},
        {"memory, wrong password", [&] { return stream_over(container); }, "pW", std::nullopt, true},
        {"memory, changed ciphertext", [&] { return stream_over(tampered); }, "pw", std::nullopt, true},
        {"memory, empty content", [&] { return stream_over(empty); }, "pw", std::vector<uint8_t>{}, true},
        {"whole-file window", [&] { return window(container.size()); }, "pw", content, true},
        {"smaller window", [&] { return window(4096); }, "pw", content, false},
        {"stream", [&] { return std::make_unique<ScriptedStream>(container); }, "pw", content, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StreamPtr source = c.source();
        ASSERT_NE(source, nullptr);
        const int64_t source_size = stream_size(source.get());
        ContainerHeader header;
        ASSERT_TRUE(read_container_header(source.get(), header));
        StreamPtr opened = open_decrypted_in_place(source.get(), header, c.password);
        ASSERT_EQ(opened != nullptr, c.expected.has_value());
        if (opened) {
            EXPECT_EQ(stream_tell(opened.get()), static_cast<int64_t>(c.expected->size()));
            EXPECT_EQ(read_all(opened.get()), *c.expected);
            const auto& plaintext = dynamic_cast<MemoryStream&>(*opened);
            EXPECT_TRUE(plaintext.holds_secrets());
            // Nothing of the container is left behind the plaintext.
            EXPECT_TRUE(std::all_of(plaintext.data() + plaintext.size(), plaintext.data() + plaintext.capacity(),
                                    [](uint8_t b) { return b == 0; }));
        }
        uint64_t left = 0;
        if (c.in_place) {
            EXPECT_EQ(stream_contents(source.get(), left), nullptr);
            EXPECT_EQ(left, 0u);
        } else {
            EXPECT_EQ(stream_size(source.get()), source_size);
            EXPECT_EQ(read_all(source.get()), container);
        }
    }
}

TEST(EncryptedContainer, EncryptedContainerCanHoldACompressedOne) {
    const std::vector<uint8_t> content = mixed_content(40000, 8);
    const std::vector<uint8_t> compressed = tools::write_compressed_container(content.data(), content.size(), {});
    const std::vector<uint8_t> container =
        tools::write_encrypted_container(compressed.data(), compressed.size(), options_with("pw"));
    auto source = stream_over(container);
    ContainerHeader outer;
    ASSERT_TRUE(read_container_header(source.get(), outer));
    StreamPtr decrypted = open_decrypted_stream(source.get(), outer, "pw");
    ASSERT_NE(decrypted, nullptr);
    ContainerHeader inner;
    ASSERT_TRUE(read_container_header(decrypted.get(), inner));
    EXPECT_EQ(inner.container_type, kContainerCompressed);
    StreamPtr decompressed = open_decompressed_stream(decrypted.get(), inner);
    ASSERT_NE(decompressed, nullptr);
    EXPECT_EQ(read_all(decompressed.get()), content);
}

}  // namespace
}  // namespace tracemill
