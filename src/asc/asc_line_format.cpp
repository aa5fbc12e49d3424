// ASCII trace text: one line layout per record kind, chosen from a table, the
// time column, and the header with its dates.
//
// Lines hold what the logger recorded and nothing made up: the optional
// measurement columns (frame durations, bit counts, LIN checksums and bit
// timings) are left out. CAN FD lines alone end with those columns, as 0,
// because readers take them for the end of the data bytes; their flags
// column does carry the frame's EDL, BRS and ESI bits.
#include "asc/asc_line_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <vector>

#include "text/number_columns.h"
#include "text/number_fields.h"

namespace tracemill {
namespace {

using namespace text;

// ---------------------------------------------------------------------------
// Columns.

// "%X" of the identifier, "x" after a 29-bit one.
char* put_identifier(char* out, uint32_t id, bool extended) {
    const int digits = id == 0 ? 1 : (35 - std::countl_zero(id)) / 4;
    for (int i = digits; i-- > 0; id >>= 4) out[i] = kHexDigits[id & 0xF];
    out += digits;
    if (extended) *out++ = 'x';
    return out;
}

// The identifier left-aligned in fifteen characters, and a space: never
// longer, as it has at most nine.
char* put_identifier_column(char* out, uint32_t id, bool extended) {
    std::memcpy(out, "                ", 16);
    put_identifier(out, id, extended);
    return out + 16;
}

// "%d" of a count; may store blanks past its end.
char* put_count(char* out, size_t count) {
    if (count <= 255) return out + put_byte_decimal(out, static_cast<uint8_t>(count)).length;
    return put_decimal(out, static_cast<int32_t>(count), 0);
}

// " XX XX ..." for the data bytes, nothing for none.
char* put_data_column(char* out, const Payload& data) {
    if (data.empty()) return out;
    *out++ = ' ';
    if (data.size() == 8) return put_eight_data_bytes(out, data.data());
    return put_data_bytes(out, data.data(), data.size());
}

// The DLC as one hexadecimal digit, or more for a value past 15.
char* put_dlc(char* out, uint8_t dlc) {
    if (dlc > 15) return put_hex_general(out, dlc, 1);
    *out = kHexDigits[dlc];
    return out + 1;
}

// The CAN channel: "%d" and two spaces.
char* put_can_channel(char* out, uint8_t channel) { return out + put_byte_decimal(out, channel).length + 2; }

// The LIN channel: "Li%d" and a space.
char* put_lin_channel(char* out, uint8_t channel) {
    out = put_literal(out, "Li");
    return out + put_byte_decimal(out, channel).length + 1;
}

// ---------------------------------------------------------------------------
// Lines, each written after the time column and its space, without the "\n".

// CAN FD frames have a line form of their own: "CANFD <ch:3> <dir:-4> <id:8>
// <brs> <esi> <dlc> <length:2><data>" and the measurement columns.
char* can_fd_line(char* p, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    p = put_literal(p, "CANFD ");
    const uint32_t channel = padded_three_digits(record.bus_channel);
    std::memcpy(p, &channel, 4);
    p += 3;
    p = put_literal(p, can.dir != 0 ? " Tx   " : " Rx   ");
    char id[16];
    const size_t id_length = static_cast<size_t>(put_identifier(id, record.id, can.ide == 1) - id);
    if (id_length < 8) {
        std::memset(p, ' ', 8 - id_length);
        p += 8 - id_length;
    }
    p = put_text(p, id, id_length);
    *p++ = ' ';
    *p++ = can.brs != 0 ? '1' : '0';
    *p++ = ' ';
    *p++ = can.esi != 0 ? '1' : '0';
    *p++ = ' ';
    p = put_dlc(p, can.dlc);
    *p++ = ' ';
    if (record.data.size() < 100) {
        const uint32_t length = padded_three_digits(static_cast<uint32_t>(record.data.size()));
        std::memcpy(p, reinterpret_cast<const char*>(&length) + 1, 2);
        p += 2;
    } else {
        p = put_count(p, record.data.size());
    }
    p = put_data_column(p, record.data);
    // Duration and bit count, the flags (EDL 0x1000, BRS 0x2000, ESI 0x4000),
    // CRC and the four bit timing columns.
    p = put_literal(p, " 0 0 ");
    *p++ = kHexDigits[1 | (can.brs != 0) << 1 | (can.esi != 0) << 2];
    return put_literal(p, "000 0 0 0 0 0");
}

// "<ch>  <id:-15> <dir:-4> d <dlc><data>", or the FD line.
char* can_data_line(char* p, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    if (can.edl == 1) return can_fd_line(p, record);
    p = put_can_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, can.ide == 1);
    p = put_literal(p, can.dir != 0 ? "Tx   d " : "Rx   d ");
    p = put_dlc(p, can.dlc);
    return put_data_column(p, record.data);
}

// "<ch>  <id:-15> <dir:-4> r <dlc>".
char* can_remote_line(char* p, const BusRecord& record) {
    const CanDetails& can = record.details.can;
    p = put_can_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, can.ide == 1);
    p = put_literal(p, can.dir != 0 ? "Tx   r " : "Rx   r ");
    return put_dlc(p, can.dlc);
}

// "<ch>  ErrorFrame". The error's type has no column in this form.
char* can_error_line(char* p, const BusRecord& record) {
    p = put_can_channel(p, record.details.error.bus_channel);
    return put_literal(p, "ErrorFrame");
}

// "Li<ch> <id:-15> <dir:-4> <dlc><data>".
char* lin_frame_line(char* p, const BusRecord& record) {
    p = put_lin_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, false);
    p = put_literal(p, record.details.lin.dir != 0 ? "Tx   " : "Rx   ");
    p = put_count(p, record.data.size());
    return put_data_column(p, record.data);
}

// "Li<ch> <id:-15> CSErr <dir> <dlc><data>".
char* lin_checksum_error_line(char* p, const BusRecord& record) {
    p = put_lin_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, false);
    p = put_literal(p, record.details.lin.dir != 0 ? "CSErr Tx " : "CSErr Rx ");
    p = put_count(p, record.data.size());
    return put_data_column(p, record.data);
}

// "Li<ch> <id:-15> 0 RcvError: receive error": no data bytes came with it.
char* lin_receive_error_line(char* p, const BusRecord& record) {
    p = put_lin_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, false);
    return put_literal(p, "0 RcvError: receive error");
}

// "Li<ch> <id:-15> TransmErr".
char* lin_transmission_error_line(char* p, const BusRecord& record) {
    p = put_lin_channel(p, record.bus_channel);
    p = put_identifier_column(p, record.id, false);
    return put_literal(p, "TransmErr");
}

// "Li<ch> SyncError": the frame never got as far as an identifier.
char* lin_sync_error_line(char* p, const BusRecord& record) {
    p = put_lin_channel(p, record.bus_channel);
    return put_literal(p, "SyncError");
}

// The line of each record kind, by its number; none for Unsupported.
using LineWriter = char* (*)(char* p, const BusRecord& record);
constexpr LineWriter kLineWriters[] = {
    nullptr,                      // Unsupported
    can_data_line,                // CanDataFrame
    can_remote_line,              // CanRemoteFrame
    can_error_line,               // CanErrorFrame
    lin_frame_line,               // LinFrame
    lin_checksum_error_line,      // LinChecksumError
    lin_receive_error_line,       // LinReceiveError
    lin_transmission_error_line,  // LinTransmissionError
    lin_sync_error_line,          // LinSyncError
};
static_assert(std::size(kLineWriters) == static_cast<size_t>(BusRecordKind::LinSyncError) + 1);

// ---------------------------------------------------------------------------
// The time column.

// Microseconds in `value` (>= 0, below 2^63 microseconds), rounded to nearest
// with ties to even as printf rounds: computed from the double's significand
// and exponent so that the exact binary value is rounded.
uint64_t microseconds(double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const int shift = 1075 - (static_cast<int>(bits >> 52) & 0x7FF);  // value = significand × 2^-shift
    if (shift >= 100) return 0;  // below 2^-47 s
    const uint64_t significand = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
    const unsigned __int128 product = static_cast<unsigned __int128>(significand) * 1'000'000;
    if (shift <= 0) return static_cast<uint64_t>(product << -shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    const unsigned __int128 odd = (product >> shift) & 1;
    return static_cast<uint64_t>((product + (half - 1) + odd) >> shift);
}

}  // namespace

char* put_asc_time(char* out, double seconds) {
    // Times from 0 up to 10^9 s (31 years into a file) go the fast way.
    if (std::signbit(seconds) || !(seconds < 1e9)) return put_fixed(out, seconds, 6, 11);
    const uint64_t units = microseconds(seconds);
    const auto integral = static_cast<uint32_t>(units / 1'000'000);
    const auto fraction = static_cast<uint32_t>(units % 1'000'000);
    if (integral < 10'000) {
        store_word(out, padded_eight_digits(integral) >> 32);  // "%4d"
        out += 4;
    } else if (integral < 100'000'000) {
        const int digits = integral < 100'000 ? 5 : integral < 1'000'000 ? 6 : integral < 10'000'000 ? 7 : 8;
        store_word(out, eight_digits(integral) >> (8 * (8 - digits)));
        out += digits;
    } else if (integral < 1'000'000'000) {
        *out++ = static_cast<char>('0' + integral / 100'000'000);
        store_word(out, eight_digits(integral % 100'000'000));
        out += 8;
    } else {
        return put_fixed(out, seconds, 6, 11);  // rounded up to 10^9
    }
    store_word(out, '.' | three_digits(fraction / 1000) << 8 | three_digits(fraction % 1000) << 32);
    return out + 7;
}

bool asc_line_exists(BusRecordKind kind) {
    const auto index = static_cast<size_t>(kind);
    return index < std::size(kLineWriters) && kLineWriters[index] != nullptr;
}

size_t format_asc_line(char* out, double offset_s, const BusRecord& record) {
    if (!asc_line_exists(record.kind)) return 0;
    const auto kind = static_cast<size_t>(record.kind);
    char* p = put_asc_time(out, offset_s);
    *p++ = ' ';
    p = kLineWriters[kind](p, record);
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

namespace {

// A date's whole seconds and milliseconds; times the date cannot show give 1970.
struct DateParts {
    double whole;
    int milliseconds;
};

DateParts date_parts(double seconds) {
    constexpr double kYear10000 = 253402300800.0;
    if (!(seconds >= 0 && seconds < kYear10000)) seconds = 0;
    const double whole = std::floor(seconds);
    return {whole, std::min(999, static_cast<int>((seconds - whole) * 1000))};
}

}  // namespace

double asc_date_seconds(double seconds) {
    const DateParts parts = date_parts(seconds);
    return parts.whole + parts.milliseconds / 1000.0;
}

std::string asc_date_text(double seconds) {
    static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto [whole, milliseconds] = date_parts(seconds);
    const auto time = static_cast<time_t>(whole);
    struct tm civil{};
    gmtime_r(&time, &civil);
    const int hour12 = civil.tm_hour % 12 == 0 ? 12 : civil.tm_hour % 12;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d.%03d %s %d", kWeekdays[civil.tm_wday],
                                     kMonths[civil.tm_mon], civil.tm_mday, hour12, civil.tm_min, civil.tm_sec,
                                     milliseconds, civil.tm_hour < 12 ? "am" : "pm", civil.tm_year + 1900);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string format_asc_header(double start_seconds) {
    const std::string date = asc_date_text(start_seconds);
    return "date " + date + "\nbase hex  timestamps absolute\ninternal events logged\nBegin Triggerblock " + date +
           "\n   0.000000 Start of measurement\n";
}

}  // namespace tracemill
