// Reads a bit field of up to 64 bits out of a record, in either byte order.
//
// Little-endian fields count bits from the least significant bit of each
// byte; big-endian fields take the bytes as one bit stream, most significant
// bit of each byte first, the first bit becoming the top bit of the value.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace tracemill {

// `bit_count` above 64 cannot be represented and reads as 0, like a field
// that does not fit into the view. Positions are used in full, so fields
// beyond the first 8 KiB of a record are read where they are.
inline uint64_t read_bits(std::span<const uint8_t> view, uint64_t bit_position, uint64_t bit_count,
                          bool little_endian) {
    if (bit_count == 0 || bit_count > 64) return 0;
    const uint64_t end_bit = bit_position + bit_count;
    if (end_bit < bit_position || (end_bit + 7) / 8 > view.size()) return 0;

    if constexpr (std::endian::native == std::endian::little) {
        // Common case: one 8-byte load that holds the whole field. The load
        // starts at the field's first byte, or ends at the view's last byte
        // for fields near the end of the view.
        if (view.size() >= 8) {
            const uint64_t base = std::min<uint64_t>(bit_position / 8, view.size() - 8);
            const uint64_t skip = bit_position - base * 8;  // bits of the word before the field
            if (skip + bit_count <= 64) {
                uint64_t word;
                std::memcpy(&word, view.data() + base, 8);
                if (little_endian) {
                    const uint64_t low = word >> skip;
                    return bit_count == 64 ? low : low & ((uint64_t{1} << bit_count) - 1);
                }
                return (__builtin_bswap64(word) << skip) >> (64 - bit_count);
            }
        }
    }

    const uint8_t* bytes = view.data() + bit_position / 8;
    const unsigned shift = static_cast<unsigned>(bit_position % 8);
    const unsigned byte_count = static_cast<unsigned>((shift + bit_count + 7) / 8);  // 1..9
    const uint64_t mask = bit_count == 64 ? ~uint64_t{0} : (uint64_t{1} << bit_count) - 1;

    unsigned __int128 word = 0;
    if (little_endian) {
        for (unsigned i = byte_count; i-- > 0;) word = (word << 8) | bytes[i];
        return static_cast<uint64_t>(word >> shift) & mask;
    }
    for (unsigned i = 0; i < byte_count; ++i) word = (word << 8) | bytes[i];
    const unsigned tail = byte_count * 8 - shift - static_cast<unsigned>(bit_count);
    return static_cast<uint64_t>(word >> tail) & mask;
}

}  // namespace tracemill
