// Trace file text: hand-assembled frame lines and the header with its start time.
//
// The fields of the common lines (numbers and offsets of ordinary traces,
// identifiers that fit their width) are put together in registers or copied
// from tables of all byte values, and leave in a few fixed-size stores; the
// rest go through general writers that handle any value and width.
#include "trc/trc_line_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tracemill {
namespace {

// Digit words hold eight characters with the first one in the lowest byte, so
// that one 8-byte store writes them in order.
static_assert(std::endian::native == std::endian::little, "digit words are laid out for little-endian stores");

constexpr char kHexDigits[] = "0123456789ABCDEF";

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
constexpr auto kThreeDigits = three_digit_words(false);
constexpr auto kPaddedThreeDigits = three_digit_words(true);

// "%02X " of every byte and one spare byte: a data byte leaves in one 4-byte
// store whose spare byte the next store overwrites; the first two characters
// alone serve identifiers and the last data byte.
using HexUnit = std::array<char, 4>;
constexpr auto kHexUnits = [] {
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
constexpr auto kByteDecimals = [] {
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
// General writers: any value, any width, exactly the bytes printf writes.

char* put_text(char* out, const char* text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

template <size_t N>
char* put_literal(char* out, const char (&text)[N]) {
    return put_text(out, text, N - 1);
}

// Right-aligns `length` bytes of `text` in `width` characters, as printf does.
char* put_padded(char* out, const char* text, size_t length, int width) {
    if (width > 0 && length < static_cast<size_t>(width)) {
        size_t pad = static_cast<size_t>(width) - length;
        std::memset(out, ' ', pad);
        out += pad;
    }
    return put_text(out, text, length);
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

// A number field assembled right-aligned at the end of a space-filled buffer.
class RightAligned {
public:
    RightAligned() { std::memset(text_, ' ', sizeof text_); }
    void put(char c) { *--start_ = c; }
    void put_digits(uint64_t value) {
        do {
            put(static_cast<char>('0' + value % 10));
            value /= 10;
        } while (value != 0);
    }
    // `units` of 10^-kDecimals as integral digits, point and kDecimals decimals.
    template <int kDecimals>
    void put_fraction(uint64_t units) {
        constexpr uint64_t kScale = kDecimals == 1 ? 10 : kDecimals == 2 ? 100 : 1000;
        uint64_t decimals = units % kScale;
        for (int i = 0; i < kDecimals; ++i) {
            put(static_cast<char>('0' + decimals % 10));
            decimals /= 10;
        }
        put('.');
        put_digits(units / kScale);
    }
    // Writes the field padded to `width`, as printf's "%*" does; widths beyond
    // the buffer go the slow way.
    char* write(char* out, int width) const {
        size_t length = static_cast<size_t>(end() - start_);
        if (width > static_cast<int>(sizeof text_)) return put_padded(out, start_, length, width);
        if (width > 0 && length < static_cast<size_t>(width)) length = static_cast<size_t>(width);
        copy_short(out, end() - length, length);
        return out + length;
    }

private:
    const char* end() const { return text_ + sizeof text_; }
    char text_[32];
    char* start_ = text_ + sizeof text_;
};

// Below this magnitude offsets are rounded here from the exact binary value.
constexpr double kExactFixedLimit = 1e15;
static_assert(kExactFixedLimit < 0x1p50, "scaled_units needs |value| below 2^50");

// |value| × scale rounded to an integer, halfway cases to even, as printf
// rounds: computed from the double's significand and exponent, so the exact
// binary value is rounded, not an already rounded product. Needs |value| below
// 2^50 and scale at most 1000: the significand times the scale then stays
// below 2^63 and at least 3 of its bits lie behind the binary point.
uint64_t scaled_units(double value, uint64_t scale) {
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

// "%*d", any value and width.
char* put_decimal_general(char* out, int32_t value, int width) {
    RightAligned field;
    const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    field.put_digits(magnitude);
    if (value < 0) field.put('-');
    return field.write(out, width);
}

// "%*.*f", any value, precision and width.
char* put_fixed_general(char* out, double value, int precision, int width) {
    static constexpr uint64_t kScales[] = {1, 10, 100, 1000};
    if (precision >= 0 && precision <= 3 && std::fabs(value) < kExactFixedLimit) {
        RightAligned field;  // sign, up to 15 integral digits, point, 3 decimals
        const uint64_t units = scaled_units(value, kScales[precision]);
        switch (precision) {  // constant divisors compile to multiplications
        case 0: field.put_digits(units); break;
        case 1: field.put_fraction<1>(units); break;
        case 2: field.put_fraction<2>(units); break;
        default: field.put_fraction<3>(units); break;
        }
        if (std::signbit(value)) field.put('-');  // printf keeps the sign of values that round to zero
        return field.write(out, width);
    }
    // The widest fixed-notation double: sign, 309 integral digits, point, decimals.
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    return put_padded(out, text, static_cast<size_t>(result.ptr - text), width);
}

// "%0*X", any value and digit count.
char* put_hex_general(char* out, uint32_t value, int digits) {
    int significant = 1;
    while (significant < 8 && (value >> (4 * significant)) != 0) ++significant;
    int count = significant > digits ? significant : digits;
    for (int i = count - 1; i >= 0; --i) {
        *out++ = i < 8 ? kHexDigits[(value >> (4 * i)) & 0xF] : '0';
    }
    return out;
}

// ---------------------------------------------------------------------------
// Digit words: up to eight characters built in a register.

constexpr uint32_t power_of_ten(int exponent) {
    uint32_t power = 1;
    while (exponent-- > 0) power *= 10;
    return power;
}

uint64_t three_digits(uint32_t value) { return kThreeDigits[value]; }
uint64_t padded_three_digits(uint32_t value) { return kPaddedThreeDigits[value]; }

// `value` < 10^8 as "%08d".
uint64_t eight_digits(uint32_t value) {
    const uint32_t thousands = value / 1000;
    return three_digits(thousands / 1000) >> 8 | three_digits(thousands % 1000) << 16 |
           three_digits(value % 1000) << 40;
}

// `value` < 10^8 as "%8d". Numbers and offsets of a trace grow from line to
// line, so the branch on the magnitude is taken the same way for long runs.
uint64_t padded_eight_digits(uint32_t value) {
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
void put_hex4(char* out, uint32_t value) {
    std::memcpy(out, kHexUnits[(value >> 8) & 0xFF].data(), 2);
    std::memcpy(out + 2, kHexUnits[value & 0xFF].data(), 2);
}
void put_hex8(char* out, uint32_t value) {
    put_hex4(out, value >> 16);
    put_hex4(out + 4, value & 0xFFFF);
}

// "XX " units of kCount bytes: 4-byte stores whose spare byte the next one overwrites.
template <size_t kCount>
void put_hex_units(char* out, const uint8_t* bytes) {
    for (size_t i = 0; i < kCount; ++i) std::memcpy(out + 3 * i, kHexUnits[bytes[i]].data(), 4);
}

// The data of classic CAN frames in straight-line stores.
char* put_eight_data_bytes(char* out, const uint8_t* bytes) {
    put_hex_units<7>(out, bytes);
    std::memcpy(out + 21, kHexUnits[bytes[7]].data(), 2);
    return out + 23;
}

// ---------------------------------------------------------------------------
// Line writers. Each may store up to 7 bytes past the end of what it writes:
// the line buffer holds trc_line_capacity bytes, far more than a line of
// ordinary fields, and the next field or the final length leaves those bytes
// out. Stores of a fixed size make a field cost a few instructions, not a loop.

void store_word(char* out, uint64_t word) { std::memcpy(out, &word, sizeof word); }

// "%*d" (kWidth 6 or 7) of a number at least 10^6: seven to ten digits, no padding.
char* put_wide_number(char* out, uint32_t value) {
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
char* put_number_column(char* out, int32_t number) {
    static_assert(kWidth == 6 || kWidth == 7);
    if (number < 0) return put_decimal_general(out, number, kWidth);
    const auto value = static_cast<uint32_t>(number);
    if (value >= power_of_ten(kWidth)) return put_wide_number(out, value);
    store_word(out, padded_eight_digits(value) >> (8 * (8 - kWidth)));  // drop the surplus blanks
    return out + kWidth;
}

// "%13.3f" or "%11.1f" of the offset.
template <int kDecimals>
char* put_offset_column(char* out, double offset) {
    constexpr int kWidth = 10 + kDecimals;
    if (!put_offset_column_exact<kDecimals>(out, offset)) return put_fixed_general(out, offset, kDecimals, kWidth);
    return out + kWidth;
}

// "%d" of a byte value, followed by at least five spaces.
const ByteDecimal& put_byte_decimal(char* out, uint8_t value) {
    const ByteDecimal& entry = kByteDecimals[value];
    std::memcpy(out, entry.text.data(), entry.text.size());
    return entry;
}

// "Tx" or "Rx" with a space on either side, as one 4-byte copy.
const char* direction_column(const CanDetails& can) { return can.dir != 0 ? " Tx " : " Rx "; }

// Two-letter message type of a 2.1 line, a space and a spare byte.
const char* message_type(const CanDetails& can) {
    if (can.edl == 1) {
        if (can.brs == 1) return can.esi == 1 ? "BI  " : "FB  ";
        return can.esi == 1 ? "FE  " : "FD  ";
    }
    return can.rtr == 1 ? "RR  " : "DT  ";
}

// The data bytes of a line; those of classic frames without a call
// (put_data_bytes handles the others).
char* put_data_column(char* out, const std::vector<uint8_t>& data) {
    if (data.size() == 8) return put_eight_data_bytes(out, data.data());
    return put_data_bytes(out, data.data(), data.size());
}

}  // namespace

// The public field writers write exactly the field's bytes: they share the
// fast ways of the lines but not their stores past the end.

char* put_decimal(char* out, int32_t value, int width) {
    if (width != 6 && width != 7) return put_decimal_general(out, value, width);
    char field[32];
    const char* end = width == 6 ? put_number_column<6>(field, value) : put_number_column<7>(field, value);
    const auto length = static_cast<size_t>(end - field);
    copy_short(out, field, length);
    return out + length;
}

char* put_hex(char* out, uint32_t value, int digits) {
    if (digits == 8) {
        put_hex8(out, value);
        return out + 8;
    }
    if (digits == 4 && value <= 0xFFFF) {
        put_hex4(out, value);
        return out + 4;
    }
    return put_hex_general(out, value, digits);
}

char* put_fixed(char* out, double value, int precision, int width) {
    if (precision == 3 && width == 13 && put_offset_column_exact<3>(out, value)) return out + 13;
    if (precision == 1 && width == 11 && put_offset_column_exact<1>(out, value)) return out + 11;
    return put_fixed_general(out, value, precision, width);
}

char* put_data_bytes(char* out, const uint8_t* bytes, size_t count) {
    if (count == 8) return put_eight_data_bytes(out, bytes);
    if (count == 0) return out;
    const uint8_t* last = bytes + count - 1;
    // "XX " per byte, four at a time while they last; each store's spare byte
    // is overwritten by the next one.
    for (; last - bytes >= 4; bytes += 4, out += 12) put_hex_units<4>(out, bytes);
    for (; bytes != last; ++bytes, out += 3) put_hex_units<1>(out, bytes);
    std::memcpy(out, kHexUnits[*last].data(), 2);
    return out + 2;
}

// "%6d) %11.1f %s    %08X %d  " (extended) or "%6d) %11.1f %s        %04X %d  ",
// then "RTR" or the data bytes.
size_t format_trc11_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = put_number_column<6>(out, number);
    p = put_literal(p, ") ");
    p = put_offset_column<1>(p, offset_ms);
    std::memcpy(p, direction_column(can), 4);
    p += 3;
    if (can.ide == 1) {
        p = put_literal(p, "    ");
        put_hex8(p, record.id);
        p += 8;
    } else if (record.id <= 0xFFFF) {
        std::memcpy(p, "        ", 8);
        put_hex4(p + 8, record.id);
        p += 12;
    } else {
        p = put_literal(p, "        ");
        p = put_hex_general(p, record.id, 4);
    }
    *p++ = ' ';
    p += put_byte_decimal(p, can.dlc).length + 2;  // "%d  "
    if (can.rtr != 0) {
        p = put_literal(p, "RTR");
    } else {
        p = put_data_column(p, record.data);
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

// "%7d %13.3f %s %d %08X %s %d" (extended) or "%7d %13.3f %s %d     %04X %s %d",
// then padding that lines up the data column, then the data bytes.
size_t format_trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = put_number_column<7>(out, number);
    *p++ = ' ';
    p = put_offset_column<3>(p, offset_ms);
    *p++ = ' ';
    std::memcpy(p, message_type(can), 4);
    p += 3;
    p += put_byte_decimal(p, record.bus_channel).length;
    if (can.ide == 1) {
        *p = ' ';
        put_hex8(p + 1, record.id);
        p += 9;
    } else if (record.id <= 0xFFFF) {
        std::memcpy(p, "        ", 8);
        put_hex4(p + 5, record.id);
        p += 9;
    } else {
        p = put_literal(p, "     ");
        p = put_hex_general(p, record.id, 4);
    }
    std::memcpy(p, direction_column(can), 4);
    p += 4;
    p += put_byte_decimal(p, can.dlc).length + (can.dlc < 10 ? 4 : 3);  // "%d   ", one more space under 10
    if (can.rtr == 0) p = put_data_column(p, record.data);
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

TraceStartTime trace_start_time(double base_time_seconds) {
    // 25569 is the day number of 1970-01-01 counted from 1899-12-30.
    double days = base_time_seconds / 86400 + 25569;
    // A start before the epoch of the format (or NaN) cannot be written as an
    // unsigned day number; such files start at day 0.
    if (!(days >= 0)) return {};
    if (days >= 18446744073709551615.0) return {UINT64_MAX, 0};
    double integral = 0;
    double fraction = std::modf(days, &integral);
    TraceStartTime start{static_cast<uint64_t>(integral), 0};
    // Rounded to nearest, ties to even, as printf rounds "%.0f".
    double digits = std::nearbyint(fraction * 1e10);
    if (digits >= 1e10) {
        // The fraction rounds up to a whole day: carry so that it keeps ten digits.
        ++start.day;
    } else {
        start.fraction = static_cast<uint64_t>(digits);
    }
    return start;
}

std::string format_trc_header(uint32_t version, double base_time_seconds) {
    TraceStartTime start = trace_start_time(base_time_seconds);
    char text[160];
    int length = std::snprintf(text, sizeof text, ";$FILEVERSION=%s\n;$STARTTIME=%5llu.%010llu\n%s",
                               version == kTraceVersion11 ? "1.1" : "2.1",
                               static_cast<unsigned long long>(start.day),
                               static_cast<unsigned long long>(start.fraction),
                               version == kTraceVersion11 ? "" : ";$COLUMNS=N,O,T,B,I,d,L,D\n");
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace tracemill
