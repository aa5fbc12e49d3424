// The container writer and the heatshrink encoder: stored layout byte by
// byte, agreement with an independent encryption, and that the encoder
// really compresses (a literal-only encoder would still round-trip).
#include "container_writer.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "heatshrink_encoder.h"
#include "streams/compressed_container.h"
#include "streams/crc32.h"
#include "streams/memory_stream.h"

namespace tracemill::tools {
namespace {

std::vector<uint8_t> from_hex(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

uint32_t u32_be_at(const std::vector<uint8_t>& bytes, size_t offset) {
    return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
           (uint32_t{bytes[offset + 2]} << 8) | bytes[offset + 3];
}

std::vector<uint8_t> repetitive(size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>("CAN frame 0x123 "[i % 16]);
    return out;
}

TEST(ContainerWriter, HeaderBytesFollowTheStoredLayout) {
    EXPECT_EQ(container_header_bytes(34, 0x1234, 1, 1), from_hex("47656E657269632046696C650101220100001234"));
    EXPECT_EQ(container_header_bytes(17, 0x89ABCDEF, 0, 0, 2), from_hex("47656E657269632046696C650000110289ABCDEF"));
}

TEST(ContainerWriter, CompressedContainerCarriesParametersPayloadAndFooter) {
    const std::vector<uint8_t> content = repetitive(5000);
    CompressOptions options;
    options.window_bits = 9;
    options.lookahead_bits = 5;
    options.device_id = 7;
    const std::vector<uint8_t> with_footer = write_compressed_container(content.data(), content.size(), options);
    const std::vector<uint8_t> payload = heatshrink_encode(content.data(), content.size(), 9, 5);
    ASSERT_EQ(with_footer.size(), 28 + payload.size() + 4);
    EXPECT_EQ(with_footer[12], 1);  // check flag follows the footer flag
    EXPECT_EQ(with_footer[13], 1);
    EXPECT_EQ(with_footer[14], 34);
    EXPECT_EQ(u32_be_at(with_footer, 16), 7u);
    EXPECT_EQ(u32_be_at(with_footer, 20), 5u);
    EXPECT_EQ(u32_be_at(with_footer, 24), 512u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), with_footer.begin() + 28));
    EXPECT_EQ(u32_be_at(with_footer, with_footer.size() - 4),
              crc32_update_block(kCrc32Initial, payload.data(), payload.size()));

    options.footer = false;
    options.window_param = 65536;
    options.lookahead_param = 0x102;
    options.check_flag = 1;
    const std::vector<uint8_t> odd = write_compressed_container(content.data(), content.size(), options);
    ASSERT_EQ(odd.size(), 28 + payload.size());
    EXPECT_EQ(odd[12], 1);
    EXPECT_EQ(odd[13], 0);
    EXPECT_EQ(u32_be_at(odd, 20), 0x102u);
    EXPECT_EQ(u32_be_at(odd, 24), 65536u);
}

TEST(ContainerWriter, EncryptedContainerMatchesAnIndependentImplementation) {
    // The same container as produced by a separate AES-GCM and PBKDF2 implementation.
    const std::vector<uint8_t> expected = from_hex(
        "47656e657269632046696c650000110100abcdefa0a1a2a3a4a5a6a7a8a9aaab000003e8000102030405060708090a0b0c0d0e0f"
        "2dcad8c19e5d7fd2a637dc782c3835c0e8e562758203fb51daeec2056c0d524fa5a1e55c50aab28b7a6e6def58ae5f3c5aa11082"
        "c67bf127ed6bd6");
    EncryptOptions options;
    options.password = "k3y-for-00ABCDEF";
    options.iterations = 1000;
    options.device_id = 0x00ABCDEF;
    for (size_t i = 0; i < 12; ++i) options.iv[i] = static_cast<uint8_t>(0xA0 + i);
    for (size_t i = 0; i < 16; ++i) options.salt[i] = static_cast<uint8_t>(i);
    const std::string plaintext = "Plaintext spanning more than one AES block.";
    EXPECT_EQ(write_encrypted_container(reinterpret_cast<const uint8_t*>(plaintext.data()), plaintext.size(), options),
              expected);
}

// The direct encoders of crafted payloads decode to what they promise, at a
// fraction of the size.
TEST(HeatshrinkEncoder, ZeroRunsAndPeriodicContentRoundTrip) {
    std::vector<uint8_t> periodic = repetitive(100000);
    periodic[5000] ^= 1;  // a break in the period costs literals, nothing more
    struct {
        const char* name;
        std::vector<uint8_t> content;
        std::vector<uint8_t> payload;
        unsigned window_bits, lookahead_bits;
    } cases[] = {
        // Within the reader's cap on expansion (1024 times the payload).
        {"zeros", std::vector<uint8_t>(200001, 0), heatshrink_encode_zeros(200001, 8, 7), 8, 7},
        {"one zero", std::vector<uint8_t>(1, 0), heatshrink_encode_zeros(1, 8, 7), 8, 7},
        {"periodic", periodic, heatshrink_encode_periodic(periodic.data(), periodic.size(), 16, 11, 10), 11, 10},
    };
    for (const auto& c : cases) {
        CompressOptions options;
        options.window_bits = c.window_bits;
        options.lookahead_bits = c.lookahead_bits;
        const std::vector<uint8_t> container = write_compressed_payload(c.payload, options);
        auto source = memory_stream_from(container.data(), container.size());
        ContainerHeader header;
        ASSERT_TRUE(read_container_header(source.get(), header)) << c.name;
        StreamPtr content = open_decompressed_stream(source.get(), header);
        ASSERT_TRUE(content) << c.name;
        uint64_t size = 0;
        const uint8_t* bytes = stream_contents(content.get(), size);
        ASSERT_TRUE(bytes) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + size), c.content) << c.name;
        EXPECT_LT(c.payload.size() * 40, c.content.size() + 100) << c.name;
    }
}

TEST(HeatshrinkEncoder, RefusesParametersTheDecoderRefuses) {
    const std::vector<uint8_t> content = repetitive(100);
    const std::pair<unsigned, unsigned> refused[] = {{3, 2}, {16, 4}, {8, 8}, {8, 2}, {0, 0}};
    for (auto [w, l] : refused) {
        SCOPED_TRACE(::testing::Message() << "W " << w << " L " << l);
        EXPECT_TRUE(heatshrink_encode(content.data(), content.size(), w, l).empty());
    }
    EXPECT_TRUE(heatshrink_encode(nullptr, 0, 8, 4).empty());
}

TEST(HeatshrinkEncoder, CompressesRepeatsAndBoundsTheGrowthOfNoise) {
    const std::vector<uint8_t> text = repetitive(100000);
    std::vector<uint8_t> noise(100000);
    std::mt19937 random(1);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    for (auto [w, l] : {std::pair{8u, 4u}, {11u, 4u}, {13u, 8u}}) {
        SCOPED_TRACE(::testing::Message() << "W " << w << " L " << l);
        // Each reference covers up to 2^L bytes of the repeating text.
        const size_t best_case = text.size() / (size_t{1} << l) * (1 + w + l) / 8;
        EXPECT_LT(heatshrink_encode(text.data(), text.size(), w, l).size(), best_case * 2);
        // Literals cost nine bits each; a good match never costs more.
        EXPECT_LE(heatshrink_encode(noise.data(), noise.size(), w, l).size(), noise.size() * 9 / 8 + 1);
    }
}

// The command-line front end writes what the library functions write.
class ContainerTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kTool, X_OK) != 0) GTEST_SKIP() << kTool << " is not built";
        char pattern[] = "/tmp/tm_container_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        if (!folder_.empty()) std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    int run(const std::string& args) {
        const int raw = std::system((std::string(kTool) + " " + args + " 2>/dev/null").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string path(const char* name) const { return folder_ + "/" + name; }
    std::vector<uint8_t> read(const char* name) const {
        std::vector<uint8_t> bytes;
        if (std::FILE* file = std::fopen(path(name).c_str(), "rb")) {
            int c;
            while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
            std::fclose(file);
        }
        return bytes;
    }

    static constexpr const char* kTool = TRACEMILL_TOOLS_DIR "/tm_container";
    std::string folder_;
};

TEST_F(ContainerTool, CompressesAndEncryptsLikeTheLibrary) {
    const std::vector<uint8_t> content = repetitive(20000);
    {
        std::FILE* file = std::fopen(path("in").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    ASSERT_EQ(run("compress -w 9 -l 5 --no-footer -d 1234abcd " + path("in") + " " + path("c")), 0);
    CompressOptions compress;
    compress.window_bits = 9;
    compress.lookahead_bits = 5;
    compress.footer = false;
    compress.device_id = 0x1234ABCD;
    EXPECT_EQ(read("c"), write_compressed_container(content.data(), content.size(), compress));

    ASSERT_EQ(run("encrypt -p 'a secret' -i 77 -d 00ABCDEF --iv 000102030405060708090a0b "
                  "--salt 101112131415161718191a1b1c1d1e1f " + path("in") + " " + path("e")), 0);
    EncryptOptions encrypt;
    encrypt.password = "a secret";
    encrypt.iterations = 77;
    encrypt.device_id = 0x00ABCDEF;
    for (size_t i = 0; i < 12; ++i) encrypt.iv[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < 16; ++i) encrypt.salt[i] = static_cast<uint8_t>(0x10 + i);
    EXPECT_EQ(read("e"), write_encrypted_container(content.data(), content.size(), encrypt));

    // Random iv and salt: two runs differ.
    ASSERT_EQ(run("encrypt -p x " + path("in") + " " + path("r1")), 0);
    ASSERT_EQ(run("encrypt -p x " + path("in") + " " + path("r2")), 0);
    EXPECT_NE(read("r1"), read("r2"));
}

TEST_F(ContainerTool, RefusesBadUsage) {
    const std::string in = path("in");
    std::system(("printf abc > '" + in + "'").c_str());
    const std::string cases[] = {
        "compress " + in,                              // no output
        "encrypt " + in + " " + path("o"),             // no password
        "compress -w 16 " + in + " " + path("o"),      // window the decoder refuses
        "compress -w x " + in + " " + path("o"),       // not a number
        "encrypt -p x --iv 0011 " + in + " " + path("o"),  // iv of the wrong length
        "pack " + in + " " + path("o"),
        "compress " + path("missing") + " " + path("o"),
    };
    for (const std::string& args : cases) EXPECT_NE(run(args), 0) << args;
}

}  // namespace
}  // namespace tracemill::tools
