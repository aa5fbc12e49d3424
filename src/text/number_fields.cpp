// The general number writers and the printf-exact public fields, which share
// the fast column writers but not their stores past the end.
#include "text/number_fields.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "text/number_columns.h"

namespace tracemill {
namespace text {
namespace {

// Right-aligns `length` bytes of `text` in `width` characters, as printf does.
char* put_padded(char* out, const char* text, size_t length, int width) {
    if (width > 0 && length < static_cast<size_t>(width)) {
        size_t pad = static_cast<size_t>(width) - length;
        std::memset(out, ' ', pad);
        out += pad;
    }
    return put_text(out, text, length);
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

}  // namespace

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

}  // namespace text

using namespace text;

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

}  // namespace tracemill
