// Writes compressed (type 34) and encrypted (type 17) containers around given
// content, for tests, benchmarks and the demo. Every header field can be set
// to a value a reader must refuse, so refusals can be tested too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tracemill::tools {

// The 20-byte container header.
std::vector<uint8_t> container_header_bytes(uint8_t container_type, uint32_t device_id, uint8_t check_flag,
                                            uint8_t footer_flag, uint8_t format_version = 1);

struct CompressOptions {
    unsigned window_bits = 11;
    unsigned lookahead_bits = 4;
    bool footer = true;  // a CRC footer ends the container
    uint32_t device_id = 0;
    std::optional<uint8_t> check_flag;        // default: the footer flag, as readers require
    uint8_t format_version = 1;
    std::optional<uint32_t> window_param;     // stored instead of 2^window_bits
    std::optional<uint32_t> lookahead_param;  // stored instead of lookahead_bits
};

// Header, parameter words, heatshrink payload and optional footer; empty when
// the window and lookahead bits cannot be encoded.
std::vector<uint8_t> write_compressed_container(const uint8_t* content, size_t size, const CompressOptions& options);
// The same around a payload already encoded with the options' window and lookahead bits.
std::vector<uint8_t> write_compressed_payload(const std::vector<uint8_t>& payload, const CompressOptions& options);

struct EncryptOptions {
    std::string password;
    uint32_t iterations = 1000;
    uint32_t device_id = 0;
    uint8_t check_flag = 0;
    uint8_t footer_flag = 0;
    uint8_t format_version = 1;
    std::array<uint8_t, 12> iv{};
    std::array<uint8_t, 16> salt{};
};

// Header, iv, iteration count, salt, ciphertext and tag; empty when the
// cryptographic library fails.
std::vector<uint8_t> write_encrypted_container(const uint8_t* content, size_t size, const EncryptOptions& options);

}  // namespace tracemill::tools
