// Trace file text: hand-assembled frame lines and the header with its start time.
#include "trc/trc_line_format.h"

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
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return put_padded(out, digits, static_cast<size_t>(result.ptr - digits), width);
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

// "%6d) %11.1f %s    %08X %d  " (extended) or "%6d) %11.1f %s        %04X %d  ",
// then "RTR" or the data bytes.
size_t format_trc11_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = put_decimal(out, number, 6);
    p = put_literal(p, ") ");
    p = put_fixed(p, offset_ms, 1, 11);
    *p++ = ' ';
    p = put_text(p, direction_text(can), 2);
    if (can.ide == 1) {
        p = put_literal(p, "    ");
        p = put_hex(p, record.id, 8);
    } else {
        p = put_literal(p, "        ");
        p = put_hex(p, record.id, 4);
    }
    *p++ = ' ';
    p = put_decimal(p, can.dlc, 0);
    p = put_literal(p, "  ");
    if (can.rtr != 0) {
        p = put_literal(p, "RTR");
    } else {
        p = put_data_bytes(p, record.data.data(), record.data.size());
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

// "%7d %13.3f %s %d %08X %s %d" (extended) or "%7d %13.3f %s %d     %04X %s %d",
// then padding that lines up the data column, then the data bytes.
size_t format_trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    char* p = put_decimal(out, number, 7);
    *p++ = ' ';
    p = put_fixed(p, offset_ms, 3, 13);
    *p++ = ' ';
    p = put_text(p, message_type(can), 2);
    *p++ = ' ';
    p = put_decimal(p, record.bus_channel, 0);
    if (can.ide == 1) {
        *p++ = ' ';
        p = put_hex(p, record.id, 8);
    } else {
        p = put_literal(p, "     ");
        p = put_hex(p, record.id, 4);
    }
    *p++ = ' ';
    p = put_text(p, direction_text(can), 2);
    *p++ = ' ';
    p = put_decimal(p, can.dlc, 0);
    p = put_literal(p, "   ");
    if (can.dlc < 10) *p++ = ' ';
    if (can.rtr == 0) p = put_data_bytes(p, record.data.data(), record.data.size());
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
