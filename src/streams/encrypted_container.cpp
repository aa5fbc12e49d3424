// The encrypted layer: derives the key with PBKDF2-HMAC-SHA-256,
// authenticates and decrypts the body with AES-256-GCM into memory, and hands
// the plaintext out only when the tag matches.
#include "streams/encrypted_container.h"

#include <mbedtls/cipher.h>
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/version.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "common/log.h"
#include "streams/field_reader.h"
#include "streams/memory_stream.h"

namespace tracemill {
namespace {

// Large chunks keep the per-call overhead of the cipher module small; a
// multiple of the 16-byte block, which older library versions require of
// every chunk but the last.
constexpr size_t kCipherChunk = 65536;

struct EncryptedFields {
    uint8_t iv[kEncryptedIvSize];
    uint32_t iteration_count;
    uint8_t salt[kEncryptedSaltSize];
};

bool accepts_header(const ContainerHeader& header) {
    return header.container_type == kContainerEncrypted && header.format_version == 1 && header.check_flag <= 1 &&
           header.footer_flag == 0;
}

bool read_fields(ByteStream* container, EncryptedFields& fields) {
    if (stream_seek(container, kEncryptedIvOffset, kSeekSet) != kEncryptedIvOffset) return false;
    FieldReader reader = FieldReader::at(container);
    return reader.read_bytes(fields.iv, sizeof fields.iv) && reader.read_u32_be(fields.iteration_count) &&
           reader.read_bytes(fields.salt, sizeof fields.salt);
}

bool read_exactly(ByteStream* stream, uint8_t* dst, size_t n) {
    return stream_read_fully(stream, dst, n) == static_cast<int64_t>(n);
}

bool store(ByteStream* destination, const uint8_t* bytes, size_t n, uint64_t& stored) {
    if (n == 0) return true;
    if (stream_write(destination, bytes, n) != static_cast<int64_t>(n)) {
        TM_LOG(kError, "Out of memory while storing decrypted data (%llu bytes stored)",
               static_cast<unsigned long long>(stored));
        return false;
    }
    stored += n;
    return true;
}

class CipherContext {
public:
    CipherContext() { mbedtls_cipher_init(&context_); }
    ~CipherContext() { mbedtls_cipher_free(&context_); }
    CipherContext(const CipherContext&) = delete;
    CipherContext& operator=(const CipherContext&) = delete;
    mbedtls_cipher_context_t* get() { return &context_; }

private:
    mbedtls_cipher_context_t context_;
};

// Fixed input and output chunks, released on every path.
struct ChunkBuffers {
    uint8_t* input = static_cast<uint8_t*>(std::malloc(kCipherChunk));
    uint8_t* output = static_cast<uint8_t*>(std::malloc(kCipherChunk + 16));
    ~ChunkBuffers() {
        std::free(input);
        if (output != nullptr) mbedtls_platform_zeroize(output, kCipherChunk + 16);
        std::free(output);
    }
    bool ok() const { return input != nullptr && output != nullptr; }
};

bool start_decryption(mbedtls_cipher_context_t* cipher, const uint8_t* key, const uint8_t* iv) {
    const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_values(MBEDTLS_CIPHER_ID_AES, 256, MBEDTLS_MODE_GCM);
    return info != nullptr && mbedtls_cipher_setup(cipher, info) == 0 &&
           mbedtls_cipher_setkey(cipher, key, 256, MBEDTLS_DECRYPT) == 0 &&
           mbedtls_cipher_set_iv(cipher, iv, kEncryptedIvSize) == 0;
}

// Everything from the additional data to the tag check.
bool authenticate_and_decrypt(ByteStream* container, mbedtls_cipher_context_t* cipher, ByteStream* destination) {
    const int64_t total = stream_seek(container, 0, kSeekEnd) < 0 ? -1 : stream_tell(container);
    if (total < kEncryptedMinimumSize) return false;
    uint8_t tag[kEncryptedTagSize];
    if (stream_seek(container, -static_cast<int64_t>(kEncryptedTagSize), kSeekCur) < 0 ||
        !read_exactly(container, tag, sizeof tag))
        return false;

    uint8_t authenticated[kEncryptedAuthenticatedSize];
    if (stream_seek(container, 0, kSeekSet) != 0 || !read_exactly(container, authenticated, sizeof authenticated))
        return false;
    if (mbedtls_cipher_update_ad(cipher, authenticated, sizeof authenticated) != 0) return false;

    ChunkBuffers buffers;
    if (!buffers.ok()) {
        TM_LOG(kError, "Out of memory while decrypting");
        return false;
    }
    uint64_t stored = 0;
    uint64_t remaining = static_cast<uint64_t>(total - kEncryptedMinimumSize);
    while (remaining > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kCipherChunk));
        if (!read_exactly(container, buffers.input, n)) return false;
        remaining -= n;
        size_t produced = 0;
        if (mbedtls_cipher_update(cipher, buffers.input, n, buffers.output, &produced) != 0) return false;
        if (!store(destination, buffers.output, produced, stored)) return false;
    }
    size_t produced = 0;
    if (mbedtls_cipher_finish(cipher, buffers.output, &produced) != 0) return false;
    if (!store(destination, buffers.output, produced, stored)) return false;
    return mbedtls_cipher_check_tag(cipher, tag, sizeof tag) == 0;
}

}  // namespace

bool derive_container_key(std::string_view password, const uint8_t* salt, size_t salt_size, uint32_t iterations,
                          uint8_t key[kContainerKeySize]) {
    const auto* secret = reinterpret_cast<const unsigned char*>(password.data());
#if MBEDTLS_VERSION_NUMBER >= 0x03030000
    return mbedtls_pkcs5_pbkdf2_hmac_ext(MBEDTLS_MD_SHA256, secret, password.size(), salt, salt_size, iterations,
                                         kContainerKeySize, key) == 0;
#else
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    // The setup result is not examined: a failed setup makes the derivation fail.
    mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 1);
    const int status = mbedtls_pkcs5_pbkdf2_hmac(&md, secret, password.size(), salt, salt_size, iterations,
                                                 kContainerKeySize, key);
    mbedtls_md_free(&md);
    return status == 0;
#endif
}

bool decrypt_container(ByteStream* container, const ContainerHeader& header, std::string_view password,
                       ByteStream* destination) {
    if (container == nullptr || destination == nullptr || !accepts_header(header)) return false;
    EncryptedFields fields{};
    if (!read_fields(container, fields)) return false;
    if (fields.iteration_count > kMaxPbkdf2Iterations) {
        TM_LOG(kError, "Refusing to derive the key: PBKDF2 iteration count %u exceeds the limit of %u",
               fields.iteration_count, kMaxPbkdf2Iterations);
        return false;
    }

    uint8_t key[kContainerKeySize];
    CipherContext cipher;
    bool ok = derive_container_key(password, fields.salt, sizeof fields.salt, fields.iteration_count, key) &&
              start_decryption(cipher.get(), key, fields.iv);
    mbedtls_platform_zeroize(key, sizeof key);
    return ok && authenticate_and_decrypt(container, cipher.get(), destination);
}

StreamPtr open_decrypted_stream(ByteStream* container, const ContainerHeader& header, std::string_view password) {
    if (container == nullptr || !accepts_header(header)) return nullptr;
    std::unique_ptr<MemoryStream> content = memory_stream_new();
    if (!content) {
        TM_LOG(kError, "Out of memory while opening the encrypted container");
        return nullptr;
    }
    content->hold_secrets();
    // Unauthenticated plaintext is wiped with `content`; nothing of it is handed out.
    if (!decrypt_container(container, header, password, content.get())) return nullptr;
    return content;
}

namespace {

LayerOpening open_layer(ByteStream* container, const ContainerHeader& header, const LayerContext& context) {
    const std::optional<std::string_view> password =
        context.password_for ? context.password_for(header.device_id) : std::nullopt;
    if (!password) {
        TM_LOG(kError, "No password found for device %08X", header.device_id);
        return {nullptr, true};
    }
    return {open_decrypted_stream(container, header, *password)};
}

}  // namespace

const ContainerLayer kEncryptedLayer = {
    .container_type = kContainerEncrypted,
    .name = "encrypted",
    .open = open_layer,
    .failure_result = kContainerPasswordFailure,
    .failure_message = "Could not decrypt file",
    .yields_secrets = true,
};

}  // namespace tracemill
