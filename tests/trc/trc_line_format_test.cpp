// Trace text: the hand-assembled fields and lines must equal what printf makes
// of the same format strings, and the header's start time must keep ten digits.
#include "trc/trc_line_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tracemill {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::string fixed_fast(double value, int precision, int width) {
    char out[512];
    char* end = put_fixed(out, value, precision, width);
    return std::string(out, end);
}

std::string fixed_printf(double value, int precision, int width) {
    char out[512];
    int n = std::snprintf(out, sizeof out, "%*.*f", width, precision, value);
    return std::string(out, n);
}

std::string decimal_fast(int32_t value, int width) {
    char out[32];
    return std::string(out, put_decimal(out, value, width));
}

std::string hex_fast(uint32_t value, int digits) {
    char out[32];
    return std::string(out, put_hex(out, value, digits));
}

std::string printf_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printf_text(const char* format, ...) {
    char out[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, sizeof out, format, args);
    va_end(args);
    return std::string(out, n);
}

// Compares both offset formats for one value; returns false on the first mismatch.
bool offsets_match(double value) {
    return fixed_fast(value, 3, 13) == fixed_printf(value, 3, 13) &&
           fixed_fast(value, 1, 11) == fixed_printf(value, 1, 11);
}

TEST(TrcFieldFormat, FixedMatchesPrintfOnEdgeValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {
        0.0, -0.0, 12.5, 0.0005, 0.0015, 0.0025, -0.0005, 1.0005, 2.0005, 0.05, 0.15, 0.25, 0.35,
        -0.05, 1.25, 999999999.9995, 1e12, 1e15 + 0.5, 123456789012.3456, 1e21, 1e22, -1e22, 1.7976931348623157e308,
        -1.7976931348623157e308, 4.9e-324, -4.9e-324, 2.2250738585072014e-308, nan, -nan, inf, -inf,
        9999999.95, 99999.9995, -99999.9995, 0.4999999999999999, 1e-3, 123.4565, 123.4575,
    };
    for (double value : values) {
        EXPECT_EQ(fixed_fast(value, 3, 13), fixed_printf(value, 3, 13)) << value;
        EXPECT_EQ(fixed_fast(value, 1, 11), fixed_printf(value, 1, 11)) << value;
    }
}

TEST(TrcFieldFormat, FixedMatchesPrintfOnRandomOffsets) {
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> typical(-2e6, 2e9);
    std::uniform_int_distribution<int64_t> thousandths(-10'000'000'000LL, 10'000'000'000LL);
    std::uniform_int_distribution<int> nudge(-2, 2);
    int mismatches = 0;
    for (int i = 0; i < 400'000 && mismatches < 5; ++i) {
        // Offsets of real traces.
        double value = typical(random);
        // Any bit pattern: huge, tiny, subnormal, infinite, NaN.
        uint64_t bits = random();
        double any;
        std::memcpy(&any, &bits, sizeof any);
        // Halfway points of the printed precision, and their neighbours.
        double tie = (static_cast<double>(thousandths(random)) + 0.5) / 1000;
        for (int step = nudge(random); step != 0; step += step > 0 ? -1 : 1) {
            tie = std::nextafter(tie, step > 0 ? kInfinity : -kInfinity);
        }
        // Bit patterns mostly print hundreds of digits: check a share of them.
        if (i % 64 == 0 && !offsets_match(any)) {
            ADD_FAILURE() << "mismatch for bit pattern " << bits;
            ++mismatches;
        }
        for (double v : {value, tie, tie * 100}) {
            if (!offsets_match(v)) {
                ADD_FAILURE() << "mismatch for " << v << ": fast \"" << fixed_fast(v, 3, 13) << "\" printf \""
                              << fixed_printf(v, 3, 13) << "\"";
                ++mismatches;
            }
        }
    }
}

TEST(TrcFieldFormat, DecimalAndHexMatchPrintf) {
    std::mt19937 random(42);
    std::vector<uint32_t> values = {0, 1, 9, 10, 0xF, 0x10, 0x123, 0xFFFF, 0x10000, 0x7FF, 0x1FFFFFFF,
                                    0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (int i = 0; i < 200'000; ++i) values.push_back(random() >> (random() % 32));
    for (uint32_t value : values) {
        int32_t signed_value = static_cast<int32_t>(value);
        ASSERT_EQ(decimal_fast(signed_value, 6), printf_text("%6d", signed_value));
        ASSERT_EQ(decimal_fast(signed_value, 7), printf_text("%7d", signed_value));
        ASSERT_EQ(decimal_fast(signed_value, 0), printf_text("%d", signed_value));
        ASSERT_EQ(hex_fast(value, 4), printf_text("%04X", value));
        ASSERT_EQ(hex_fast(value, 8), printf_text("%08X", value));
    }
}

BusRecord can_frame(double timestamp, uint32_t id, CanDetails can, std::vector<uint8_t> data, uint8_t bus = 1) {
    BusRecord record;
    record.timestamp = timestamp;
    record.bus_channel = bus;
    record.id = id;
    record.data = std::move(data);
    record.kind = can.rtr ? BusRecordKind::CanRemoteFrame : BusRecordKind::CanDataFrame;
    record.details.can = can;
    return record;
}

std::string line21(int32_t number, double offset, const BusRecord& record) {
    std::vector<char> out(trc_line_capacity(record.data.size()));
    return std::string(out.data(), format_trc21_line(out.data(), number, offset, record));
}

std::string line11(int32_t number, double offset, const BusRecord& record) {
    std::vector<char> out(trc_line_capacity(record.data.size()));
    return std::string(out.data(), format_trc11_line(out.data(), number, offset, record));
}

const std::vector<uint8_t> kEightBytes = {1, 2, 3, 4, 5, 6, 7, 8};

struct LineCase {
    const char* name;
    int32_t number;
    double offset;
    BusRecord record;
    const char* expected;
};

TEST(TrcLineFormat, Version21Lines) {
    //                 ide dir edl esi brs rtr dlc
    const std::vector<LineCase> cases = {
        {"data frame", 1, 12.5, can_frame(0, 0x123, {0, 0, 0, 0, 0, 0, 8}, kEightBytes),
         "      1        12.500 DT 1     0123 Rx 8    01 02 03 04 05 06 07 08\n"},
        {"remote frame", 2, 20, can_frame(0, 0x7FF, {0, 1, 0, 0, 0, 1, 4}, {}, 2),
         "      2        20.000 RR 2     07FF Tx 4    \n"},
        {"extended id", 3, 0.0004, can_frame(0, 0x18FEF100, {1, 0, 0, 0, 0, 0, 2}, {0xAB, 0xCD}),
         "      3         0.000 DT 1 18FEF100 Rx 2    AB CD\n"},
        {"FD with bit rate switch and error state", 4, 1, can_frame(0, 0x10, {0, 0, 1, 1, 1, 0, 1}, {0xFF}),
         "      4         1.000 BI 1     0010 Rx 1    FF\n"},
        {"FD with bit rate switch", 5, 1, can_frame(0, 0x10, {0, 0, 1, 0, 1, 0, 1}, {0xFF}),
         "      5         1.000 FB 1     0010 Rx 1    FF\n"},
        {"FD with error state", 6, 1, can_frame(0, 0x10, {0, 0, 1, 1, 0, 0, 1}, {0xFF}),
         "      6         1.000 FE 1     0010 Rx 1    FF\n"},
        {"plain FD", 7, 1, can_frame(0, 0x10, {0, 1, 1, 0, 0, 0, 0}, {}),
         "      7         1.000 FD 1     0010 Tx 0    \n"},
        {"FD with DLC 15 keeps three spaces", 8, 2.25, can_frame(0, 0x1A2B3C4D, {1, 0, 1, 0, 1, 0, 15}, {0x0A, 0x0B}),
         "      8         2.250 FB 1 1A2B3C4D Rx 15   0A 0B\n"},
        {"negative offset and wide number", 12345678, -3.25, can_frame(0, 0x1, {0, 0, 0, 0, 0, 0, 0}, {}, 255),
         "12345678        -3.250 DT 255     0001 Rx 0    \n"},
        {"identifier wider than its field", 9, 0, can_frame(0, 0x12345, {0, 0, 0, 0, 0, 0, 0}, {}),
         "      9         0.000 DT 1     12345 Rx 0    \n"},
    };
    for (const LineCase& c : cases) EXPECT_EQ(line21(c.number, c.offset, c.record), c.expected) << c.name;
}

TEST(TrcLineFormat, Version11Lines) {
    const std::vector<LineCase> cases = {
        {"standard data frame", 1, 12.5, can_frame(0, 0x123, {0, 0, 0, 0, 0, 0, 8}, kEightBytes),
         "     1)        12.5 Rx        0123 8  01 02 03 04 05 06 07 08\n"},
        {"extended remote frame", 3, 100, can_frame(0, 0x18FEF100, {1, 1, 0, 0, 0, 1, 8}, {}),
         "     3)       100.0 Tx    18FEF100 8  RTR\n"},
        {"standard remote frame received", 4, 0.25, can_frame(0, 0x7FF, {0, 0, 0, 0, 0, 1, 2}, {}),
         "     4)         0.2 Rx        07FF 2  RTR\n"},
        {"no data bytes", 5, 0.35, can_frame(0, 0x1, {0, 1, 0, 0, 0, 0, 0}, {}),
         "     5)         0.3 Tx        0001 0  \n"},
    };
    for (const LineCase& c : cases) EXPECT_EQ(line11(c.number, c.offset, c.record), c.expected) << c.name;
}

// The lines must equal printf of the documented formats for any field values.
TEST(TrcLineFormat, LinesMatchPrintfOfTheirFormats) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> offsets(-1e3, 1e8);
    for (int i = 0; i < 100'000; ++i) {
        CanDetails can{};
        can.ide = random() % 2;
        can.dir = random() % 3;
        can.edl = random() % 2;
        can.esi = random() % 2;
        can.brs = random() % 2;
        can.rtr = random() % 2;
        can.dlc = random() % 16;
        std::vector<uint8_t> data(random() % 65);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        BusRecord r = can_frame(0, static_cast<uint32_t>(random()) >> (random() % 32), can, data,
                                static_cast<uint8_t>(random()));
        int32_t number = static_cast<int32_t>(random());
        double offset = offsets(random);

        std::string bytes;
        for (size_t k = 0; k < data.size(); ++k) bytes += printf_text(k ? " %02X" : "%02X", data[k]);
        const char* dir = can.dir ? "Tx" : "Rx";
        const char* type = can.edl == 1 ? (can.brs == 1 ? (can.esi == 1 ? "BI" : "FB") : (can.esi == 1 ? "FE" : "FD"))
                                        : (can.rtr == 1 ? "RR" : "DT");
        std::string expected21 =
            printf_text(can.ide == 1 ? "%7d %13.3f %s %d %08X %s %d" : "%7d %13.3f %s %d     %04X %s %d", number,
                        offset, type, r.bus_channel, r.id, dir, can.dlc) +
            (can.dlc < 10 ? "    " : "   ") + (can.rtr == 0 ? bytes : "") + "\n";
        std::string expected11 =
            printf_text(can.ide == 1 ? "%6d) %11.1f %s    %08X %d  " : "%6d) %11.1f %s        %04X %d  ", number,
                        offset, dir, r.id, can.dlc) +
            (can.rtr != 0 ? "RTR" : bytes) + "\n";
        ASSERT_EQ(line21(number, offset, r), expected21);
        ASSERT_EQ(line11(number, offset, r), expected11);
    }
}

// Every field at the edges of the fast ways it is written: numbers around
// each width and sign, offsets around the exact range and its rounding,
// identifiers around their widths, bus and DLC over all byte values, data of
// 0, 1, 8, 64 and 200 bytes; each combination against printf, whole lines.
TEST(TrcLineFormat, LinesMatchPrintfAtFieldBoundaries) {
    const int32_t numbers[] = {0, 1, 9, 10, 99, 100, 99'999, 100'000, 999'999, 1'000'000, 9'999'999, 10'000'000,
                               123'456'789, INT32_MAX, -1, -99'999, -999'999, -1'000'000, INT32_MIN};
    const double offsets[] = {0.0, -0.0, 0.0005, 0.0015, -0.0005, 0.04999999, 0.05, 0.95, 9.9995, 99999.9995,
                              999999999.9995, 9999999999.9995, 99999999999.95, 999999999999.9995,
                              9.99999999999999e14, 1e15, -1e15, 1e15 + 2, 1.5e300, -2.5e-320,
                              std::numeric_limits<double>::quiet_NaN(), kInfinity, -kInfinity};
    const uint32_t ids[] = {0, 0xF, 0xFFFF, 0x10000, 0xFFFFF, 0x1FFFFFFF, 0xFFFFFFFF};
    const size_t lengths[] = {0, 1, 8, 64, 200};
    std::mt19937 random(99);
    for (int32_t number : numbers) {
        for (double offset : offsets) {
            for (uint32_t id : ids) {
                for (size_t length : lengths) {
                    CanDetails can{};
                    can.ide = random() % 2;
                    can.dir = static_cast<uint8_t>(random());
                    can.edl = random() % 3;
                    can.brs = random() % 2;
                    can.esi = random() % 2;
                    can.rtr = random() % 4 == 0;
                    can.dlc = static_cast<uint8_t>(random());
                    std::vector<uint8_t> data(length);
                    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
                    const BusRecord r = can_frame(0, id, can, data, static_cast<uint8_t>(random()));

                    std::string bytes;
                    for (size_t k = 0; k < data.size(); ++k) bytes += printf_text(k ? " %02X" : "%02X", data[k]);
                    const char* dir = can.dir ? "Tx" : "Rx";
                    const char* type = can.edl == 1 ? (can.brs == 1 ? (can.esi == 1 ? "BI" : "FB")
                                                                    : (can.esi == 1 ? "FE" : "FD"))
                                                    : (can.rtr == 1 ? "RR" : "DT");
                    const std::string expected21 =
                        printf_text(can.ide == 1 ? "%7d %13.3f %s %d %08X %s %d" : "%7d %13.3f %s %d     %04X %s %d",
                                    number, offset, type, r.bus_channel, r.id, dir, can.dlc) +
                        (can.dlc < 10 ? "    " : "   ") + (can.rtr == 0 ? bytes : "") + "\n";
                    const std::string expected11 =
                        printf_text(can.ide == 1 ? "%6d) %11.1f %s    %08X %d  " : "%6d) %11.1f %s        %04X %d  ",
                                    number, offset, dir, r.id, can.dlc) +
                        (can.rtr != 0 ? "RTR" : bytes) + "\n";
                    ASSERT_EQ(line21(number, offset, r), expected21) << number << " " << offset << " " << id;
                    ASSERT_EQ(line11(number, offset, r), expected11) << number << " " << offset << " " << id;
                }
            }
        }
    }
}

TEST(TrcHeader, BothVersions) {
    EXPECT_EQ(format_trc_header(kTraceVersion21, 1'700'000'000.25),
              ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259288194\n;$COLUMNS=N,O,T,B,I,d,L,D\n");
    EXPECT_EQ(format_trc_header(kTraceVersion11, 1'700'000'000.25), ";$FILEVERSION=1.1\n;$STARTTIME=45244.9259288194\n");
}

TEST(TrcHeader, StartTimeCases) {
    struct Case {
        const char* name;
        double base_time;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"epoch", 0, "25569.0000000000"},
        {"noon", 43200, "25569.5000000000"},
        {"fraction with leading zeros", 8.64, "25569.0001000000"},
        // 1 µs before midnight: the ten digits round up to a whole day.
        {"fraction rounding to a whole day carries", 1'700'006'400.0 - 1e-6, "45245.0000000000"},
        {"day number right-aligned in five", -25568 * 86400.0, "    1.0000000000"},
        {"start before 1899-12-30", -3e9, "    0.0000000000"},
        {"NaN", std::numeric_limits<double>::quiet_NaN(), "    0.0000000000"},
    };
    for (const Case& c : cases) {
        std::string header = format_trc_header(kTraceVersion11, c.base_time);
        EXPECT_EQ(header, std::string(";$FILEVERSION=1.1\n;$STARTTIME=") + c.expected + "\n") << c.name;
    }
}

// Where printf's "%5llu.%010.0f" gives ten fraction digits, the header equals it.
TEST(TrcHeader, StartTimeMatchesPrintfWithoutCarry) {
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> seconds(0, 4e9);
    int compared = 0;
    for (int i = 0; i < 200'000; ++i) {
        double base = seconds(random);
        double days = base / 86400 + 25569;
        double integral = 0;
        double fraction = std::modf(days, &integral);
        std::string reference =
            printf_text("%5llu.%010.0f", static_cast<unsigned long long>(integral), fraction * 1e10);
        if (reference.size() != 16) continue;
        ++compared;
        TraceStartTime start = trace_start_time(base);
        ASSERT_EQ(printf_text("%5llu.%010llu", static_cast<unsigned long long>(start.day),
                              static_cast<unsigned long long>(start.fraction)),
                  reference)
            << base;
    }
    EXPECT_GT(compared, 199'000);
}

}  // namespace
}  // namespace tracemill
