// The encrypted layer: derives the key with PBKDF2-HMAC-SHA-256,
// authenticates and decrypts the body with AES-256-GCM (libcrypto's EVP
// interface) into memory, and hands the plaintext out only when the tag
// matches. A container already whole in memory that its caller gives up is
// decrypted where it lies.
#include "streams/encrypted_container.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common/log.h"
#include "streams/field_reader.h"
#include "streams/memory_stream.h"
#include "streams/page_memory.h"

namespace tracemill {
namespace {

// Chunks stay in the first cache levels between being decrypted and being
// moved to their place, and are large enough that the per-call cost of the
// cipher vanishes.
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

// One AES-256-GCM decryption. Freeing the context wipes the key schedule,
// on every path.
class GcmDecryption {
public:
    GcmDecryption() : context_(EVP_CIPHER_CTX_new()) {}
    ~GcmDecryption() { EVP_CIPHER_CTX_free(context_); }
    GcmDecryption(const GcmDecryption&) = delete;
    GcmDecryption& operator=(const GcmDecryption&) = delete;

    bool start(const uint8_t key[kContainerKeySize], const uint8_t iv[kEncryptedIvSize]) {
        constexpr int kIvLength = static_cast<int>(kEncryptedIvSize);
        return context_ != nullptr &&
               EVP_DecryptInit_ex(context_, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
               EVP_CIPHER_CTX_ctrl(context_, EVP_CTRL_GCM_SET_IVLEN, kIvLength, nullptr) == 1 &&
               EVP_DecryptInit_ex(context_, nullptr, nullptr, key, iv) == 1;
    }
    // Bytes covered by the tag but not encrypted.
    bool authenticate(const uint8_t* bytes, size_t n) {
        int produced = 0;
        return n <= INT_MAX && EVP_DecryptUpdate(context_, nullptr, &produced, bytes, static_cast<int>(n)) == 1;
    }
    // GCM turns every ciphertext byte into one plaintext byte at once, so the
    // plaintext can take the ciphertext's place.
    bool decrypt_in_place(uint8_t* bytes, size_t n) {
        int produced = 0;
        return n <= INT_MAX && EVP_DecryptUpdate(context_, bytes, &produced, bytes, static_cast<int>(n)) == 1 &&
               produced == static_cast<int>(n);
    }
    // Called once, after the last ciphertext byte.
    bool tag_matches(const uint8_t tag[kEncryptedTagSize]) {
        uint8_t expected[kEncryptedTagSize];
        std::memcpy(expected, tag, sizeof expected);
        uint8_t nothing[kEncryptedTagSize];
        int produced = 0;
        return EVP_CIPHER_CTX_ctrl(context_, EVP_CTRL_GCM_SET_TAG, static_cast<int>(sizeof expected), expected) == 1 &&
               EVP_DecryptFinal_ex(context_, nothing, &produced) == 1;
    }

private:
    EVP_CIPHER_CTX* context_;
};

// Reads the key parameters, refuses an iteration count beyond the limit and
// starts `cipher` with the derived key, which is wiped on every path.
bool start_decryption(ByteStream* container, std::string_view password, GcmDecryption& cipher) {
    EncryptedFields fields{};
    if (!read_fields(container, fields)) return false;
    if (fields.iteration_count > kMaxPbkdf2Iterations) {
        TM_LOG(kError, "Refusing to derive the key: PBKDF2 iteration count %u exceeds the limit of %u",
               fields.iteration_count, kMaxPbkdf2Iterations);
        return false;
    }
    uint8_t key[kContainerKeySize];
    const bool ok = derive_container_key(password, fields.salt, sizeof fields.salt, fields.iteration_count, key) &&
                    cipher.start(key, fields.iv);
    OPENSSL_cleanse(key, sizeof key);
    return ok;
}

// A chunk buffer for plaintext, wiped and released on every path.
struct PlaintextChunk {
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(kCipherChunk));
    ~PlaintextChunk() {
        if (bytes != nullptr) OPENSSL_cleanse(bytes, kCipherChunk);
        std::free(bytes);
    }
};

// Everything from the additional data to the tag check, reading the
// container and writing the plaintext to `destination`.
bool decrypt_copying(ByteStream* container, GcmDecryption& cipher, ByteStream* destination) {
    const int64_t total = stream_seek(container, 0, kSeekEnd) < 0 ? -1 : stream_tell(container);
    if (total < kEncryptedMinimumSize) return false;
    uint8_t tag[kEncryptedTagSize];
    if (stream_seek(container, -static_cast<int64_t>(kEncryptedTagSize), kSeekCur) < 0 ||
        !read_exactly(container, tag, sizeof tag))
        return false;

    uint8_t authenticated[kEncryptedAuthenticatedSize];
    if (stream_seek(container, 0, kSeekSet) != 0 || !read_exactly(container, authenticated, sizeof authenticated) ||
        !cipher.authenticate(authenticated, sizeof authenticated))
        return false;

    PlaintextChunk chunk;
    if (chunk.bytes == nullptr) {
        TM_LOG(kError, "Out of memory while decrypting");
        return false;
    }
    uint64_t stored = 0;
    uint64_t remaining = static_cast<uint64_t>(total - kEncryptedMinimumSize);
    while (remaining > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kCipherChunk));
        if (!read_exactly(container, chunk.bytes, n) || !cipher.decrypt_in_place(chunk.bytes, n) ||
            !store(destination, chunk.bytes, n, stored))
            return false;
        remaining -= n;
    }
    return cipher.tag_matches(tag);
}

// The same on the container's own memory (`total` bytes of `area`, which is
// secret from here on, so that it is wiped whenever it is released). The
// plaintext ends up at the start of the area, as in any memory stream.
StreamPtr decrypt_where_it_lies(PageMemory area, uint64_t total, GcmDecryption& cipher) {
    area.hold_secrets();
    if (total < static_cast<uint64_t>(kEncryptedMinimumSize)) return nullptr;
    uint8_t* bytes = area.data();
    uint8_t tag[kEncryptedTagSize];
    std::memcpy(tag, bytes + total - kEncryptedTagSize, sizeof tag);
    if (!cipher.authenticate(bytes, kEncryptedAuthenticatedSize)) return nullptr;

    // Each chunk is decrypted where it lies, then moved down over the
    // bytes before it while it is still in cache.
    const uint64_t plaintext_size = total - kEncryptedMinimumSize;
    for (uint64_t done = 0; done < plaintext_size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(plaintext_size - done, kCipherChunk));
        uint8_t* chunk = bytes + kEncryptedAuthenticatedSize + done;
        if (!cipher.decrypt_in_place(chunk, n)) return nullptr;
        std::memmove(bytes + done, chunk, n);
        done += n;
    }
    if (!cipher.tag_matches(tag)) return nullptr;

    // Behind the plaintext, a memory stream holds zeros.
    std::memset(bytes + plaintext_size, 0, kEncryptedMinimumSize);
    std::unique_ptr<MemoryStream> content = memory_stream_adopt(std::move(area), plaintext_size);
    if (!content) {
        TM_LOG(kError, "Out of memory while opening the encrypted container");
        return nullptr;
    }
    stream_seek(content.get(), 0, kSeekEnd);
    return content;
}

StreamPtr open_plaintext(ByteStream* container, const ContainerHeader& header, std::string_view password,
                         bool reuse_container) {
    if (container == nullptr || !accepts_header(header)) return nullptr;
    GcmDecryption cipher;
    if (!start_decryption(container, password, cipher)) return nullptr;
    PageMemory area;
    uint64_t total = 0;
    if (reuse_container && stream_release_contents(container, area, total))
        return decrypt_where_it_lies(std::move(area), total, cipher);

    std::unique_ptr<MemoryStream> content = memory_stream_new();
    if (!content) {
        TM_LOG(kError, "Out of memory while opening the encrypted container");
        return nullptr;
    }
    content->hold_secrets();
    // Unauthenticated plaintext is wiped with `content`; nothing of it is handed out.
    if (!decrypt_copying(container, cipher, content.get())) return nullptr;
    return content;
}

}  // namespace

bool derive_container_key(std::string_view password, const uint8_t* salt, size_t salt_size, uint32_t iterations,
                          uint8_t key[kContainerKeySize]) {
    // Zero rounds have always derived the key of one: the first round's
    // block is the key either way, and files written so keep opening.
    const uint32_t rounds = std::max<uint32_t>(iterations, 1);
    if (password.size() > INT_MAX || salt_size > INT_MAX || rounds > INT_MAX) return false;
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(salt_size),
                             static_cast<int>(rounds), EVP_sha256(), static_cast<int>(kContainerKeySize), key) == 1;
}

bool decrypt_container(ByteStream* container, const ContainerHeader& header, std::string_view password,
                       ByteStream* destination) {
    if (container == nullptr || destination == nullptr || !accepts_header(header)) return false;
    GcmDecryption cipher;
    return start_decryption(container, password, cipher) && decrypt_copying(container, cipher, destination);
}

StreamPtr open_decrypted_stream(ByteStream* container, const ContainerHeader& header, std::string_view password) {
    return open_plaintext(container, header, password, false);
}

StreamPtr open_decrypted_in_place(ByteStream* container, const ContainerHeader& header, std::string_view password) {
    return open_plaintext(container, header, password, true);
}

namespace {

LayerOpening open_layer(ByteStream* container, const ContainerHeader& header, const LayerContext& context) {
    const std::optional<std::string_view> password =
        context.password_for ? context.password_for(header.device_id) : std::nullopt;
    if (!password) {
        TM_LOG(kError, "No password found for device %08X", header.device_id);
        return {nullptr, true};
    }
    return {context.container_reusable ? open_decrypted_in_place(container, header, *password)
                                       : open_decrypted_stream(container, header, *password)};
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
