// Container writer: compressed containers through the heatshrink encoder and
// the CRC register, encrypted ones through the GCM module of mbedTLS (a
// different path from the reader's generic cipher module).
#include "container_writer.h"

#include <mbedtls/gcm.h>
#include <mbedtls/platform_util.h>

#include "heatshrink_encoder.h"
#include "streams/container_header.h"
#include "streams/crc32.h"
#include "streams/encrypted_container.h"

namespace tracemill::tools {
namespace {

void append_u32_be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

std::vector<uint8_t> container_header_bytes(uint8_t container_type, uint32_t device_id, uint8_t check_flag,
                                            uint8_t footer_flag, uint8_t format_version) {
    std::vector<uint8_t> out(kContainerMagic.begin(), kContainerMagic.end());
    out.push_back(check_flag);
    out.push_back(footer_flag);
    out.push_back(container_type);
    out.push_back(format_version);
    append_u32_be(out, device_id);
    return out;
}

std::vector<uint8_t> write_compressed_container(const uint8_t* content, size_t size, const CompressOptions& options) {
    const std::vector<uint8_t> payload =
        heatshrink_encode(content, size, options.window_bits, options.lookahead_bits);
    if (payload.empty() && size > 0) return {};
    return write_compressed_payload(payload, options);
}

std::vector<uint8_t> write_compressed_payload(const std::vector<uint8_t>& payload, const CompressOptions& options) {
    const uint8_t footer_flag = options.footer ? 1 : 0;
    std::vector<uint8_t> out = container_header_bytes(kContainerCompressed, options.device_id,
                                                      options.check_flag.value_or(footer_flag), footer_flag,
                                                      options.format_version);
    append_u32_be(out, options.lookahead_param.value_or(options.lookahead_bits));
    append_u32_be(out, options.window_param.value_or(1u << options.window_bits));
    out.insert(out.end(), payload.begin(), payload.end());
    if (options.footer) append_u32_be(out, crc32_update_block(kCrc32Initial, payload.data(), payload.size()));
    return out;
}

std::vector<uint8_t> write_encrypted_container(const uint8_t* content, size_t size, const EncryptOptions& options) {
    std::vector<uint8_t> out = container_header_bytes(kContainerEncrypted, options.device_id, options.check_flag,
                                                      options.footer_flag, options.format_version);
    out.insert(out.end(), options.iv.begin(), options.iv.end());
    append_u32_be(out, options.iterations);
    out.insert(out.end(), options.salt.begin(), options.salt.end());
    const size_t authenticated = out.size();
    out.resize(authenticated + size + kEncryptedTagSize);

    uint8_t key[kContainerKeySize];
    if (!derive_container_key(options.password, options.salt.data(), options.salt.size(), options.iterations, key))
        return {};
    mbedtls_gcm_context gcm;
    mbedtls_gcm_init(&gcm);
    int status = mbedtls_gcm_setkey(&gcm, MBEDTLS_CIPHER_ID_AES, key, 256);
    if (status == 0)
        status = mbedtls_gcm_crypt_and_tag(&gcm, MBEDTLS_GCM_ENCRYPT, size, options.iv.data(), options.iv.size(),
                                           out.data(), authenticated, content, out.data() + authenticated,
                                           kEncryptedTagSize, out.data() + authenticated + size);
    mbedtls_gcm_free(&gcm);
    mbedtls_platform_zeroize(key, sizeof key);
    if (status != 0) return {};
    return out;
}

}  // namespace tracemill::tools
