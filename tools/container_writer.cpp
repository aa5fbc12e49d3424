// Container writer: compressed containers through the heatshrink encoder and
// the CRC register, encrypted ones through libcrypto's EVP encryption (code
// of its own: the reader's decryption and tag check are not reused).
#include "container_writer.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>

#include "heatshrink_encoder.h"
#include "streams/container_header.h"
#include "streams/crc32.h"
#include "streams/encrypted_container.h"

namespace tracemill::tools {
namespace {

void append_u32_be(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Encrypts `size` bytes of `content` behind the `authenticated` bytes of
// `out` and puts the tag behind them.
bool encrypt_gcm(const uint8_t* key, const EncryptOptions& options, uint8_t* out, size_t authenticated,
                 const uint8_t* content, size_t size) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int produced = 0;
    bool ok = context != nullptr && EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(options.iv.size()), nullptr) == 1 &&
              EVP_EncryptInit_ex(context, nullptr, nullptr, key, options.iv.data()) == 1 &&
              EVP_EncryptUpdate(context, nullptr, &produced, out, static_cast<int>(authenticated)) == 1;
    uint8_t* ciphertext = out + authenticated;
    for (size_t done = 0; ok && done < size;) {  // the interface counts in int
        const int n = static_cast<int>(std::min<size_t>(size - done, size_t{1} << 30));
        ok = EVP_EncryptUpdate(context, ciphertext + done, &produced, content + done, n) == 1 && produced == n;
        done += static_cast<size_t>(n);
    }
    constexpr int kTagLength = static_cast<int>(kEncryptedTagSize);
    ok = ok && EVP_EncryptFinal_ex(context, ciphertext + size, &produced) == 1 && produced == 0 &&
         EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, kTagLength, ciphertext + size) == 1;
    EVP_CIPHER_CTX_free(context);
    return ok;
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
    const bool ok = encrypt_gcm(key, options, out.data(), authenticated, content, size);
    OPENSSL_cleanse(key, sizeof key);
    if (!ok) return {};
    return out;
}

}  // namespace tracemill::tools
