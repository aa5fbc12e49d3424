// Fast fixed-width number columns for text lines on the per-record path.
//
// Each column writer produces exactly the bytes of the printf conversion named
// next to it, but may store a few bytes past its end (see "Column writers"):
// line layouts call them with room to spare. The common values (numbers and
// offsets of ordinary traces, identifiers that fit their width) are put
// together in registers or copied from tables of all byte values; the rest go
// through the general writers, which handle any value and width.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tracemill::text {

// Digit words hold eight characters with the first one in the lowest byte, so
// that one 8-byte store writes them in order.
static_assert(std::endian::native == std::endian::little, "digit words are laid out for little-endian stores");

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// ---------------------------------------------------------------------------
// Tables, built at compile time.

// Every number below 1000 in the first three bytes of a word, the fourth
// zero: "%03d" with zeros in front, "%3d" with blanks.
constexpr std::array<uint32_t, 1000> three_digit_words(bool blank_leading_zeros) {
    std::array<uint32_t, 1000> words{};
    for (uint32_t i = 0; i < 1000; ++i) {
        const char blank = blank_leading_zeros ? ' ' : '0';
        const auto first = static_cast<uint32_t>(i >= 100 ? '0' + i / 100 : blank);
        const auto second = static_cast<uint32_t>(i >= 10 ? '0' + i / 10 % 10 : blank);
        words[i] = first | second << 8 | ('0' + i % 10) << 16;
    }
    return words;
}
inline constexpr auto kThreeDigits = three_digit_words(false);
inline constexpr auto kPaddedThreeDigits = three_digit_words(true);

// "%02X " of every byte and one spare byte: a data byte leaves in one 4-byte
// store whose spare byte the next store overwrites; the first two characters
// alone serve identifiers and the last data byte.
using HexUnit = std::array<char, 4>;
inline constexpr auto kHexUnits = [] {
    std::array<HexUnit, 256> units{};
    for (int i = 0; i < 256; ++i) units[i] = {kHexDigits[i >> 4], kHexDigits[i & 0xF], ' ', ' '};
    return units;
}();

// "%-8d" of every byte value and the length of its number: one 8-byte store
// writes a bus channel or DLC together with the spaces that follow it.
struct ByteDecimal {
    std::array<char, 8> text;
    size_t length;
};
inline constexpr auto kByteDecimals = [] {
    std::array<ByteDecimal, 256> table{};
    for (int i = 0; i < 256; ++i) {
        ByteDecimal& entry = table[i];
        entry.text.fill(' ');
        entry.length = i >= 100 ? 3 : i >= 10 ? 2 : 1;
        int rest = i;
        for (size_t k = entry.length; k-- > 0; rest /= 10) entry.text[k] = static_cast<char>('0' + rest % 10);
    }
    return table;
}();

// ---------------------------------------------------------------------------
// Copies.

inline char* put_text(char* out, const char* text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

template <size_t N>
inline char* put_literal(char* out, const char (&text)[N]) {
    return put_text(out, text, N - 1);
}

// Copies n <= 32 bytes with fixed-size moves, which compile to a few loads
// and stores: field lengths vary from line to line, and a memcpy call of a
// variable length costs more than the field itself.
inline void copy_short(char* out, const char* text, size_t n) {
    if (n >= 16) {
        std::memcpy(out, text, 16);
        std::memcpy(out + n - 16, text + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(out, text, 8);
        std::memcpy(out + n - 8, text + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, text, 4);
        std::memcpy(out + n - 4, text + n - 4, 4);
    } else if (n > 0) {
        out[0] = text[0];
        out[n / 2] = text[n / 2];
        out[n - 1] = text[n - 1];
    }
}

// General writers: any value, any width, exactly the bytes printf writes
// (number_fields.cpp).

// "%*d", any value and width.
char* put_decimal_general(char* out, int32_t value, int width);
// "%*.*f", any value, precision and width.
char* put_fixed_general(char* out, double value, int precision, int width);
// "%0*X", any value and digit count.
char* put_hex_general(char* out, uint32_t value, int digits);

// Below this magnitude offsets are rounded here from the exact binary value.
inline constexpr double kExactFixedLimit = 1e15;
static_assert(kExactFixedLimit < 0x1p50, "scaled_units needs |value| below 2^50");

// |value| × scale rounded to an integer, halfway cases to even, as printf
// rounds: computed from the double's significand and exponent, so the exact
// binary value is rounded, not an already rounded product. Needs |value| below
// 2^50 and scale at most 1000: the significand times the scale then stays
// below 2^63 and at least 3 of its bits lie behind the binary point.
inline uint64_t scaled_units(double value, uint64_t scale) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const int biased_exponent = static_cast<int>(bits >> 52) & 0x7FF;
    // |value| = significand × 2^-shift.
    const int shift = 1075 - biased_exponent;
    // Below 2^-11 (zero and subnormals too) |value| × 1000 is under a half.
    if (shift >= 64) return 0;
    const uint64_t significand = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
    const uint64_t product = significand * scale;
    // Adding just under a half, and one more when the truncated result is
    // odd, carries into the units exactly when the rest is above a half or is
    // a half and the result odd.
    const uint64_t half = uint64_t{1} << (shift - 1);
    const uint64_t odd = (product >> shift) & 1;
    return (product + (half - 1) + odd) >> shift;
}


// ---------------------------------------------------------------------------
// Digit words: up to eight characters built in a register.

constexpr uint32_t power_of_ten(int exponent) {
    uint32_t power = 1;
    while (exponent-- > 0) power *= 10;
    return power;
}

inline uint64_t three_digits(uint32_t value) { return kThreeDigits[value]; }
inline uint64_t padded_three_digits(uint32_t value) { return kPaddedThreeDigits[value]; }

// `value` < 10^8 as "%08d".
inline uint64_t eight_digits(uint32_t value) {
    const uint32_t thousands = value / 1000;
    return three_digits(thousands / 1000) >> 8 | three_digits(thousands % 1000) << 16 |
           three_digits(value % 1000) << 40;
}

// `value` < 10^8 as "%8d". Numbers and offsets of a trace grow from line to
// line, so the branch on the magnitude is taken the same way for long runs.
inline uint64_t padded_eight_digits(uint32_t value) {
    constexpr uint64_t kFiveBlanks = 0x2020202020;
    constexpr uint64_t kTwoBlanks = 0x2020;
    if (value < 1000) return kFiveBlanks | padded_three_digits(value) << 40;
    const uint32_t thousands = value / 1000;
    const uint64_t last_three = three_digits(value % 1000) << 40;
    if (value < 1'000'000) return kTwoBlanks | padded_three_digits(thousands) << 16 | last_three;
    return padded_three_digits(thousands / 1000) >> 8 | three_digits(thousands % 1000) << 16 | last_three;
}

// ---------------------------------------------------------------------------
// Fast fields that write exactly their bytes, shared by the lines and the
// public field writers.

// The column "%13.3f" (kDecimals 3) or "%11.1f" (kDecimals 1) of an offset
// from 0 to 10^9, exactly its 10 + kDecimals bytes: the first of nine
// integral characters, the other eight, the point and the decimals. Writes
// nothing and returns false for other values: negative offsets come only
// from frames logged out of order and go the general way.
template <int kDecimals>
inline bool put_offset_column_exact(char* out, double value) {
    static_assert(kDecimals == 1 || kDecimals == 3);
    constexpr uint64_t kScale = power_of_ten(kDecimals);
    if (std::signbit(value) || !(value < 1e9)) return false;  // -0.0, NaN and infinity too
    const uint64_t units = scaled_units(value, kScale);
    const auto integral = static_cast<uint32_t>(units / kScale);
    const auto decimals = static_cast<uint32_t>(units % kScale);
    uint64_t digits = 0;
    if (integral < 100'000'000) {
        out[0] = ' ';
        digits = padded_eight_digits(integral);
    } else if (integral < 1'000'000'000) {  // rounding may have reached 10^9
        out[0] = static_cast<char>('0' + integral / 100'000'000);
        digits = eight_digits(integral % 100'000'000);
    } else {
        return false;
    }
    std::memcpy(out + 1, &digits, 8);
    if constexpr (kDecimals == 3) {
        const uint32_t point_and_decimals = '.' | kThreeDigits[decimals] << 8;
        std::memcpy(out + 9, &point_and_decimals, 4);
    } else {
        out[9] = '.';
        out[10] = static_cast<char>('0' + decimals);
    }
    return true;
}

// "%04X" of a value <= 0xFFFF and "%08X" of any: a store per byte.
inline void put_hex4(char* out, uint32_t value) {
    std::memcpy(out, kHexUnits[(value >> 8) & 0xFF].data(), 2);
    std::memcpy(out + 2, kHexUnits[value & 0xFF].data(), 2);
}
inline void put_hex8(char* out, uint32_t value) {
    put_hex4(out, value >> 16);
    put_hex4(out + 4, value & 0xFFFF);
}

// "XX " units of kCount bytes: 4-byte stores whose spare byte the next one
// overwrites, spelled out one by one (a loop is not unrolled at -O2).
template <size_t... kIndex>
inline void put_hex_units(char* out, const uint8_t* bytes, std::index_sequence<kIndex...>) {
    (std::memcpy(out + 3 * kIndex, kHexUnits[bytes[kIndex]].data(), 4), ...);
}
template <size_t kCount>
inline void put_hex_units(char* out, const uint8_t* bytes) {
    put_hex_units(out, bytes, std::make_index_sequence<kCount>());
}

// The data of classic CAN frames in straight-line stores.
inline char* put_eight_data_bytes(char* out, const uint8_t* bytes) {
    put_hex_units<7>(out, bytes);
    std::memcpy(out + 21, kHexUnits[bytes[7]].data(), 2);
    return out + 23;
}

// ---------------------------------------------------------------------------
// Column writers. Each may store up to 7 bytes past the end of what it
// writes: the caller's buffer must leave room for that, and the next field or
// the final length leaves those bytes out. Stores of a fixed size make a field
// cost a few instructions, not a loop.

inline void store_word(char* out, uint64_t word) { std::memcpy(out, &word, sizeof word); }

// "%*d" (kWidth 6 or 7) of a number at least 10^6: seven to ten digits, no padding.
inline char* put_wide_number(char* out, uint32_t value) {
    if (value >= 100'000'000) {
        const uint32_t top = value / 100'000'000;  // 1 .. 21
        if (top >= 10) *out++ = static_cast<char>('0' + top / 10);
        *out++ = static_cast<char>('0' + top % 10);
        store_word(out, eight_digits(value % 100'000'000));
        return out + 8;
    }
    if (value >= 10'000'000) {
        store_word(out, eight_digits(value));
        return out + 8;
    }
    store_word(out, eight_digits(value) >> 8);  // 10^6 <= value < 10^7: drop the leading zero
    return out + 7;
}

// "%*d" of the message number.
template <int kWidth>
inline char* put_number_column(char* out, int32_t number) {
    static_assert(kWidth == 6 || kWidth == 7);
    if (number < 0) return put_decimal_general(out, number, kWidth);
    const auto value = static_cast<uint32_t>(number);
    if (value >= power_of_ten(kWidth)) return put_wide_number(out, value);
    store_word(out, padded_eight_digits(value) >> (8 * (8 - kWidth)));  // drop the surplus blanks
    return out + kWidth;
}

// "%13.3f" or "%11.1f" of the offset.
template <int kDecimals>
inline char* put_offset_column(char* out, double offset) {
    constexpr int kWidth = 10 + kDecimals;
    if (!put_offset_column_exact<kDecimals>(out, offset)) return put_fixed_general(out, offset, kDecimals, kWidth);
    return out + kWidth;
}

// "%d" of a byte value, followed by at least five spaces.
inline const ByteDecimal& put_byte_decimal(char* out, uint8_t value) {
    const ByteDecimal& entry = kByteDecimals[value];
    std::memcpy(out, entry.text.data(), entry.text.size());
    return entry;
}

}  // namespace tracemill::text
