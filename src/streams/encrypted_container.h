// Encrypted containers (type 17): the body after the 20-byte header is
//   offset      width  field
//       20         12  iv               GCM initialisation vector
//       32          4  iteration_count  u32 BE, PBKDF2 rounds
//       36         16  salt             PBKDF2 salt
//       52   total-68  ciphertext
//  total-16        16  tag              GCM authentication tag
// The key is PBKDF2-HMAC-SHA-256(password, salt, iteration_count) with 32
// bytes of output; the cipher is AES-256-GCM with the first 52 bytes as
// additional authenticated data. The whole plaintext is decrypted into
// memory, where the container's own bytes lie when the caller gives them up,
// and handed out only after the tag has been checked.
// This file is the encrypted layer of the container table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "streams/byte_stream.h"
#include "streams/container_header.h"
#include "streams/container_layer.h"

namespace tracemill {

inline constexpr int64_t kEncryptedIvOffset = 20;
inline constexpr size_t kEncryptedIvSize = 12;
inline constexpr size_t kEncryptedSaltSize = 16;
inline constexpr int64_t kEncryptedAuthenticatedSize = 52;  // header, iv, iteration_count, salt
inline constexpr size_t kEncryptedTagSize = 16;
inline constexpr int64_t kEncryptedMinimumSize = kEncryptedAuthenticatedSize + kEncryptedTagSize;
inline constexpr size_t kContainerKeySize = 32;

// Loggers derive keys on small devices and use far fewer rounds (the example
// files use 1000); a larger count is refused before any key derivation, so
// that a file cannot cost more than about a CPU second without a password
// being checked.
inline constexpr uint32_t kMaxPbkdf2Iterations = 1'000'000;

// The layer entry of encrypted containers (see container_layer.h).
extern const ContainerLayer kEncryptedLayer;

// PBKDF2-HMAC-SHA-256 with a 32-byte result; false when the library fails.
// The iteration limit is not applied here; a count of 0 counts as 1.
bool derive_container_key(std::string_view password, const uint8_t* salt, size_t salt_size, uint32_t iterations,
                          uint8_t key[kContainerKeySize]);

// The plaintext in a memory stream positioned at its end, wiped when it is
// released; none unless the header is that of an encrypted container without
// footer, the iteration count is within the limit, and the tag authenticates
// the first 52 bytes and the ciphertext under the key derived from
// `password`. The container is only read and stays the caller's.
StreamPtr open_decrypted_stream(ByteStream* container, const ContainerHeader& header, std::string_view password);

// The same for a caller that is done with the container. When the container
// can hand over the memory holding it (stream_release_contents), the
// plaintext is decrypted there, so the file is held once instead of twice;
// the container is left empty then, also when the tag does not match.
// Other containers are only read.
StreamPtr open_decrypted_in_place(ByteStream* container, const ContainerHeader& header, std::string_view password);

// The work of open_decrypted_stream with the destination chosen by the
// caller (tests use one that fails). On false the destination may hold
// unauthenticated plaintext, which must be discarded.
bool decrypt_container(ByteStream* container, const ContainerHeader& header, std::string_view password,
                       ByteStream* destination);

}  // namespace tracemill
