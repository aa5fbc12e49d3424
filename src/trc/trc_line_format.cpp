// Trace file text: hand-assembled frame lines and the header with its start time.
#include "trc/trc_line_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tracemill {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

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

// Below this magnitude put_fixed works on the exact binary value itself.
constexpr double kExactFixedLimit = 1e15;

// |value| × scale rounded to an integer, halfway cases to even, as printf
// rounds: computed from the double's significand and exponent, so the exact
// binary value is rounded, not an already rounded product. |value| must be
// below kExactFixedLimit and scale at most 1000 (the result fits 64 bits).
uint64_t scaled_units(double value, uint64_t scale) {
    const uint64_t bits = std::bit_cast<uint64_t>(value) & ~(uint64_t{1} << 63);
    const int biased_exponent = static_cast<int>(bits >> 52);
    uint64_t significand = bits & ((uint64_t{1} << 52) - 1);
    int exponent = -1074;  // subnormals
    if (biased_exponent != 0) {
        significand |= uint64_t{1} << 52;
        exponent = biased_exponent - 1075;
    }
    if (exponent >= 0) return (significand << exponent) * scale;
    const int shift = -exponent;
    // Below 2^53 × 1000 × 2^-120 the value is far under a half unit.
    if (shift >= 120) return 0;
    const unsigned __int128 product = static_cast<unsigned __int128>(significand) * scale;
    uint64_t units = static_cast<uint64_t>(product >> shift);
    const unsigned __int128 rest = product - (static_cast<unsigned __int128>(units) << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest > half || (rest == half && (units & 1) != 0)) ++units;
    return units;
}

const char* direction_text(const CanDetails& can) { return can.dir != 0 ? "Tx" : "Rx"; }

// Two-letter message type of a 2.1 line.
const char* message_type(const CanDetails& can) {
    if (can.edl == 1) {
        if (can.brs == 1) return can.esi == 1 ? "BI" : "FB";
        return can.esi == 1 ? "FE" : "FD";
    }
    return can.rtr == 1 ? "RR" : "DT";
}

}  // namespace

char* put_decimal(char* out, int32_t value, int width) {
    RightAligned field;
    const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    field.put_digits(magnitude);
    if (value < 0) field.put('-');
    return field.write(out, width);
}

char* put_hex(char* out, uint32_t value, int digits) {
    int significant = 1;
    while (significant < 8 && (value >> (4 * significant)) != 0) ++significant;
    int count = significant > digits ? significant : digits;
    for (int i = count - 1; i >= 0; --i) {
        *out++ = i < 8 ? kHexDigits[(value >> (4 * i)) & 0xF] : '0';
    }
    return out;
}

char* put_fixed(char* out, double value, int precision, int width) {
    // Offsets of real traces: integral digits and rounding done here, exactly.
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

char* put_data_bytes(char* out, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) *out++ = ' ';
        *out++ = kHexDigits[bytes[i] >> 4];
        *out++ = kHexDigits[bytes[i] & 0xF];
    }
    return out;
}

// Frame lines are written with the line writers below. Each may store up to
// 16 bytes past the end of what it writes: the line buffer holds
// trc_line_capacity bytes, far more than a line of ordinary fields, and the
// next field or the caller's length leaves those bytes out. Stores of a fixed
// size are what make a field cost a few instructions instead of a loop.
namespace {

constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// "%02X" of every byte.
constexpr auto kHexPairs = [] {
    std::array<char, 512> pairs{};
    for (int i = 0; i < 256; ++i) {
        pairs[2 * i] = kHexDigits[i >> 4];
        pairs[2 * i + 1] = kHexDigits[i & 0xF];
    }
    return pairs;
}();

// "%02X " of every byte, one more space behind, as a word for one store.
constexpr auto kHexUnits = [] {
    std::array<uint32_t, 256> units{};
    for (uint32_t i = 0; i < 256; ++i) {
        const auto high = static_cast<uint32_t>(static_cast<uint8_t>(kHexDigits[i >> 4]));
        const auto low = static_cast<uint32_t>(static_cast<uint8_t>(kHexDigits[i & 0xF]));
        // Byte order in memory: high digit, low digit, space, space.
        units[i] = std::endian::native == std::endian::little ? high | low << 8 | 0x20200000u
                                                              : high << 24 | low << 16 | 0x2020u;
    }
    return units;
}();

// "%d" of every byte value, padded to 3 characters; with its length.
struct ByteDecimal {
    char text[3];
    uint8_t length;
};
constexpr auto kByteDecimals = [] {
    std::array<ByteDecimal, 256> table{};
    for (int i = 0; i < 256; ++i) {
        ByteDecimal& entry = table[i];
        if (i >= 100) entry = {{static_cast<char>('0' + i / 100), static_cast<char>('0' + i / 10 % 10),
                                static_cast<char>('0' + i % 10)}, 3};
        else if (i >= 10) entry = {{static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), ' '}, 2};
        else entry = {{static_cast<char>('0' + i), ' ', ' '}, 1};
    }
    return table;
}();

// Decimal digits of `value` written backwards, ending just before `end`;
// returns the first digit.
char* digits_before(char* end, uint64_t value) {
    while (value >= 100) {
        const uint64_t pair = value % 100;
        value /= 100;
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * pair], 2);
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * value], 2);
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

// A number field of up to 32 characters built backwards in front of `end()`
// in a space-filled scratch, so that padding comes free and the field leaves
// in one or two 16-byte copies.
class FieldScratch {
public:
    FieldScratch() { std::memset(text_, ' ', sizeof text_); }
    char* end() { return text_ + 32; }
    // Writes [start, end()) right-aligned in `width` (at most 32) characters.
    char* write(char* out, const char* start, size_t width) {
        const size_t length = static_cast<size_t>(end() - start);
        const size_t shown = length > width ? length : width;
        std::memcpy(out, end() - shown, 16);
        if (shown > 16) std::memcpy(out + 16, end() - shown + 16, 16);
        return out + shown;
    }

private:
    char text_[64];
};

// "%*d" for widths up to 16.
char* line_decimal(char* out, int32_t value, size_t width) {
    FieldScratch field;
    const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char* start = digits_before(field.end(), magnitude);
    if (value < 0) *--start = '-';
    return field.write(out, start, width);
}

// "%d" of a byte value.
char* line_byte_decimal(char* out, uint8_t value) {
    const ByteDecimal& entry = kByteDecimals[value];
    std::memcpy(out, entry.text, 3);
    return out + entry.length;
}

// "%*.1f" and "%*.3f" (widths up to 16); put_fixed beyond the exact range.
template <int kDecimals>
char* line_fixed(char* out, double value, size_t width) {
    if (!(std::fabs(value) < kExactFixedLimit)) return put_fixed(out, value, kDecimals, static_cast<int>(width));
    constexpr uint64_t kScale = kDecimals == 1 ? 10 : 1000;
    const uint64_t units = scaled_units(value, kScale);
    FieldScratch field;
    char* start = field.end();
    const uint64_t decimals = units % kScale;
    if constexpr (kDecimals == 1) {
        *--start = static_cast<char>('0' + decimals);
    } else {
        start -= 2;
        std::memcpy(start, &kDigitPairs[2 * (decimals % 100)], 2);
        *--start = static_cast<char>('0' + decimals / 100);
    }
    *--start = '.';
    start = digits_before(start, units / kScale);
    if (std::signbit(value)) *--start = '-';  // printf keeps the sign of values that round to zero
    return field.write(out, start, width);
}

// "%04X" and "%08X".
char* line_hex(char* out, uint32_t value, int digits) {
    if (digits == 8) {
        std::memcpy(out, &kHexPairs[2 * (value >> 24)], 2);
        std::memcpy(out + 2, &kHexPairs[2 * ((value >> 16) & 0xFF)], 2);
        std::memcpy(out + 4, &kHexPairs[2 * ((value >> 8) & 0xFF)], 2);
        std::memcpy(out + 6, &kHexPairs[2 * (value & 0xFF)], 2);
        return out + 8;
    }
    if (value > 0xFFFF) return put_hex(out, value, digits);
    std::memcpy(out, &kHexPairs[2 * (value >> 8)], 2);
    std::memcpy(out + 2, &kHexPairs[2 * (value & 0xFF)], 2);
    return out + 4;
}

// Data bytes as "XX" separated by single spaces: each byte leaves as "XX "
// in one 4-byte store, and the last space is taken back.
char* line_data_bytes(char* out, const uint8_t* bytes, size_t count) {
    if (count == 0) return out;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(out, &kHexUnits[bytes[i]], 4);
        out += 3;
    }
    return out - 1;
}

}  // namespace

// "%6d) %11.1f %s    %08X %d  " (extended) or "%6d) %11.1f %s        %04X %d  ",
// then "RTR" or the data bytes.
size_t format_trc11_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = line_decimal(out, number, 6);
    p = put_literal(p, ") ");
    p = line_fixed<1>(p, offset_ms, 11);
    *p++ = ' ';
    p = put_text(p, direction_text(can), 2);
    if (can.ide == 1) {
        p = put_literal(p, "    ");
        p = line_hex(p, record.id, 8);
    } else {
        p = put_literal(p, "        ");
        p = line_hex(p, record.id, 4);
    }
    *p++ = ' ';
    p = line_byte_decimal(p, can.dlc);
    p = put_literal(p, "  ");
    if (can.rtr != 0) {
        p = put_literal(p, "RTR");
    } else {
        p = line_data_bytes(p, record.data.data(), record.data.size());
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

// "%7d %13.3f %s %d %08X %s %d" (extended) or "%7d %13.3f %s %d     %04X %s %d",
// then padding that lines up the data column, then the data bytes.
size_t format_trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = line_decimal(out, number, 7);
    *p++ = ' ';
    p = line_fixed<3>(p, offset_ms, 13);
    *p++ = ' ';
    p = put_text(p, message_type(can), 2);
    *p++ = ' ';
    p = line_byte_decimal(p, record.bus_channel);
    if (can.ide == 1) {
        *p++ = ' ';
        p = line_hex(p, record.id, 8);
    } else {
        p = put_literal(p, "     ");
        p = line_hex(p, record.id, 4);
    }
    *p++ = ' ';
    p = put_text(p, direction_text(can), 2);
    *p++ = ' ';
    p = line_byte_decimal(p, can.dlc);
    p = put_literal(p, "   ");
    if (can.dlc < 10) *p++ = ' ';
    if (can.rtr == 0) p = line_data_bytes(p, record.data.data(), record.data.size());
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
