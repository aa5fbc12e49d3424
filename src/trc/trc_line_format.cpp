// Trace file text: frame lines laid out from the fast number columns, and the
// header with its start time.
#include "trc/trc_line_format.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "text/number_columns.h"
#include "text/number_fields.h"

namespace tracemill {
namespace {

using namespace text;

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
char* put_data_column(char* out, const Payload& data) {
    if (data.size() == 8) return put_eight_data_bytes(out, data.data());
    return put_data_bytes(out, data.data(), data.size());
}

}  // namespace

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

namespace {

// "%7d %13.3f %s %d %08X %s %d" (extended) or "%7d %13.3f %s %d     %04X %s %d",
// then padding that lines up the data column, then the data bytes. The
// reserved column adds "-  " before the length; the choice is made at compile
// time so that the default layout keeps its code.
template <bool kReservedColumn>
size_t trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
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
    if constexpr (kReservedColumn) p = put_literal(p, "-  ");
    p += put_byte_decimal(p, can.dlc).length + (can.dlc < 10 ? 4 : 3);  // "%d   ", one more space under 10
    if (can.rtr == 0) p = put_data_column(p, record.data);
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

}  // namespace

size_t format_trc21_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    return trc21_line<false>(out, number, offset_ms, record);
}

size_t format_trc21_reserved_line(char* out, int32_t number, double offset_ms, const BusRecord& record) {
    return trc21_line<true>(out, number, offset_ms, record);
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

std::string format_trc_header(uint32_t version, double base_time_seconds, bool reserved_column) {
    TraceStartTime start = trace_start_time(base_time_seconds);
    char text[160];
    int length = std::snprintf(text, sizeof text, ";$FILEVERSION=%s\n;$STARTTIME=%5llu.%010llu\n%s",
                               version == kTraceVersion11 ? "1.1" : "2.1",
                               static_cast<unsigned long long>(start.day),
                               static_cast<unsigned long long>(start.fraction),
                               version == kTraceVersion11 ? ""
                               : reserved_column          ? ";$COLUMNS=N,O,T,B,I,d,R,L,D\n"
                                                          : ";$COLUMNS=N,O,T,B,I,d,L,D\n");
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace tracemill
