// The CRC-32 variant that protects compressed containers: reflected
// polynomial 0xEDB88320, register starting at 0xFFFFFFFF and never inverted
// at the end (the complement of the common CRC-32). "123456789" gives
// 0x340BC6D9; no bytes give 0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracemill {

inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFFu;

// Folds one byte into the register.
uint32_t crc32_update(uint32_t reg, uint8_t byte);

// Folds a block into the register, eight bytes per step; gives exactly the
// register that crc32_update would give byte by byte.
uint32_t crc32_update_block(uint32_t reg, const uint8_t* bytes, size_t n);

}  // namespace tracemill
