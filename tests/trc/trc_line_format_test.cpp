// Trace text: the hand-assembled lines must equal what printf makes of the
// same format strings, and the header's start time must keep ten digits.
#include "trc/trc_line_format.h"
#include "text/number_fields.h"
#include "text/printf_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::string line21_reserved(int32_t number, double offset, const BusRecord& record) {
    std::vector<char> out(trc_line_capacity(record.data.size()));
    return std::string(out.data(), format_trc21_reserved_line(out.data(), number, offset, record));
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
        // The reserved column: "-  " where the length began.
        const size_t length_at = expected21.find(can.dir ? " Tx " : " Rx ", 34) + 4;
        ASSERT_EQ(line21_reserved(number, offset, r), expected21.insert(length_at, "-  "));
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

// printf's "%02X" of every byte value, so that long random runs need one
// printf call per field rather than one per data byte.
const std::vector<std::string>& printf_hex_bytes() {
    static const std::vector<std::string> table = [] {
        std::vector<std::string> texts;
        for (unsigned b = 0; b < 256; ++b) texts.push_back(printf_text("%02X", b));
        return texts;
    }();
    return table;
}

std::string printf_data(const Payload& data) {
    std::string bytes;
    for (size_t k = 0; k < data.size(); ++k) {
        if (k != 0) bytes += ' ';
        bytes += printf_hex_bytes()[data[k]];
    }
    return bytes;
}

// Both lines as printf writes them from their formats.
std::string printf_line21(int32_t number, double offset, const BusRecord& r) {
    const CanDetails& can = r.details.can;
    const char* type = can.edl == 1 ? (can.brs == 1 ? (can.esi == 1 ? "BI" : "FB") : (can.esi == 1 ? "FE" : "FD"))
                                    : (can.rtr == 1 ? "RR" : "DT");
    return printf_text(can.ide == 1 ? "%7d %13.3f %s %d %08X %s %d" : "%7d %13.3f %s %d     %04X %s %d", number, offset,
                       type, r.bus_channel, r.id, can.dir ? "Tx" : "Rx", can.dlc) +
           (can.dlc < 10 ? "    " : "   ") + (can.rtr == 0 ? printf_data(r.data) : "") + "\n";
}

std::string printf_line11(int32_t number, double offset, const BusRecord& r) {
    const CanDetails& can = r.details.can;
    return printf_text(can.ide == 1 ? "%6d) %11.1f %s    %08X %d  " : "%6d) %11.1f %s        %04X %d  ", number, offset,
                       can.dir ? "Tx" : "Rx", r.id, can.dlc) +
           (can.rtr != 0 ? "RTR" : printf_data(r.data)) + "\n";
}

// Message numbers on both sides of every width the number columns are
// written in: blank-padded groups of three, the column's width, eight digits
// and more, and negative numbers, which go the general way.
TEST(TrcFieldFormat, NumbersAroundEveryWidthMatchPrintf) {
    std::vector<int32_t> numbers = {INT32_MIN, INT32_MIN + 1, INT32_MAX};
    for (int64_t power = 1; power <= 1'000'000'000; power *= 10) {
        for (int64_t v : {power - 1, power, power + 1, -power + 1, -power, -power - 1, 2 * power - 1}) {
            numbers.push_back(static_cast<int32_t>(v));
        }
    }
    const BusRecord r = can_frame(0, 0x123, {0, 0, 0, 0, 0, 0, 8}, kEightBytes);
    for (int32_t number : numbers) {
        for (int width : {0, 6, 7}) {
            EXPECT_EQ(decimal_fast(number, width), printf_text("%*d", width, number)) << number << " in " << width;
        }
        EXPECT_EQ(line21(number, 1.5, r), printf_line21(number, 1.5, r)) << number;
        EXPECT_EQ(line11(number, 1.5, r), printf_line11(number, 1.5, r)) << number;
    }
}

// The bus channel and the DLC come from a table of all byte values, and the
// DLC decides the padding of the data column.
TEST(TrcLineFormat, EveryBusChannelAndDlcMatchesPrintf) {
    for (int value = 0; value < 256; ++value) {
        for (uint8_t ide : {0, 1}) {
            CanDetails can{};
            can.ide = ide;
            can.dlc = static_cast<uint8_t>(value);
            const BusRecord by_dlc = can_frame(0, 0x7FF, can, {0xA5, 0x5A}, 1);
            can.dlc = 8;
            const BusRecord by_bus = can_frame(0, 0x7FF, can, kEightBytes, static_cast<uint8_t>(value));
            for (const BusRecord& r : {by_dlc, by_bus}) {
                EXPECT_EQ(line21(42, 7.25, r), printf_line21(42, 7.25, r)) << value;
                EXPECT_EQ(line11(42, 7.25, r), printf_line11(42, 7.25, r)) << value;
            }
        }
    }
}

// Data of every length up to 200 bytes (units four at a time, then one by
// one, eight in a row of their own), and every byte value once.
TEST(TrcLineFormat, DataOfEveryLengthMatchesPrintf) {
    std::mt19937 random(17);
    std::vector<std::vector<uint8_t>> payloads;
    for (size_t length = 0; length <= 200; ++length) {
        std::vector<uint8_t> data(length);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        payloads.push_back(data);
    }
    std::vector<uint8_t> every_value(256);
    for (int b = 0; b < 256; ++b) every_value[b] = static_cast<uint8_t>(b);
    payloads.push_back(every_value);
    for (const std::vector<uint8_t>& data : payloads) {
        const BusRecord r = can_frame(0, 0x18DAF110, {1, 0, 1, 0, 1, 0, 15}, data);
        EXPECT_EQ(line21(3, 0.125, r), printf_line21(3, 0.125, r)) << data.size() << " bytes";
        EXPECT_EQ(line11(3, 0.125, r), printf_line11(3, 0.125, r)) << data.size() << " bytes";
        char out[1024];
        EXPECT_EQ(std::string(out, put_data_bytes(out, data.data(), data.size())), printf_data(data))
            << data.size() << " bytes";
    }
}

// Field values drawn so that every fast way and every fallback of each
// column comes up often: numbers of each digit count and sign, offsets of
// each magnitude (trace-like, halfway points, any bit pattern), identifiers
// of each width, flags other than 0 and 1, data of every length.
class RandomRecords {
public:
    int32_t number() {
        const int digits = pick(1, 10);
        const int64_t low = digits == 1 ? 0 : power(digits - 1);
        const int64_t high = std::min<int64_t>(power(digits) - 1, INT32_MAX);
        const auto magnitude = std::uniform_int_distribution<int64_t>(low, high)(random_);
        return static_cast<int32_t>(pick(0, 9) == 0 ? -magnitude : magnitude);
    }
    double offset() {
        switch (pick(0, 5)) {
        case 0: {  // as the writer computes them from microsecond timestamps
            const double base = 1'700'000'000.123456;
            const double micros = std::floor(std::uniform_real_distribution<double>(0, 2e12)(random_));
            return (base + micros * 1e-6 - base) * 1000;
        }
        case 1: return std::pow(10.0, std::uniform_real_distribution<double>(-5, 17)(random_));
        case 2: return -std::pow(10.0, std::uniform_real_distribution<double>(-5, 10)(random_));
        case 3: {  // halfway points of three or one decimal, nudged by up to two doubles
            const double scale = pick(0, 1) == 0 ? 1000 : 10;
            const auto steps = static_cast<double>(std::uniform_int_distribution<int64_t>(0, 2'000'000'000'000)(random_));
            double v = (steps + 0.5) / scale;
            for (int nudge = pick(-2, 2); nudge != 0; nudge += nudge > 0 ? -1 : 1)
                v = std::nextafter(v, nudge > 0 ? kInfinity : -kInfinity);
            return v;
        }
        case 4: {
            const uint64_t bits = random_();
            double any;
            std::memcpy(&any, &bits, sizeof any);
            return any;
        }
        default: return std::uniform_real_distribution<double>(0, 1e9)(random_);
        }
    }
    BusRecord record() {
        CanDetails can{};
        can.ide = flag();
        can.dir = flag();
        can.edl = flag();
        can.esi = flag();
        can.brs = flag();
        can.rtr = pick(0, 7) == 0 ? flag() : 0;
        can.dlc = static_cast<uint8_t>(pick(0, 3) == 0 ? pick(0, 255) : pick(0, 15));
        std::vector<uint8_t> data(pick(0, 1) == 0 ? 8 : static_cast<size_t>(pick(0, 64)));
        for (uint8_t& b : data) b = static_cast<uint8_t>(random_());
        const uint32_t id = pick(0, 15) == 0 ? 0 : static_cast<uint32_t>(random_() >> pick(32, 63));
        return can_frame(0, id, can, data, static_cast<uint8_t>(pick(0, 255)));
    }

private:
    static int64_t power(int digits) {
        int64_t p = 1;
        while (digits-- > 0) p *= 10;
        return p;
    }
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    uint8_t flag() { return static_cast<uint8_t>(pick(0, 4) == 0 ? 2 : pick(0, 1)); }

    std::mt19937_64 random_{20261208};
};

TEST(TrcLineFormat, RandomRecordsMatchPrintf) {
    RandomRecords random;
    int mismatches = 0;
    for (int i = 0; i < 1'000'000 && mismatches < 5; ++i) {
        const int32_t number = random.number();
        const double offset = random.offset();
        const BusRecord r = random.record();
        const std::string fast21 = line21(number, offset, r);
        const std::string fast11 = line11(number, offset, r);
        const std::string printf21 = printf_line21(number, offset, r);
        const std::string printf11 = printf_line11(number, offset, r);
        if (fast21 != printf21 || fast11 != printf11) {
            ++mismatches;
            ADD_FAILURE() << "number " << number << " offset " << std::hexfloat << offset << " id " << r.id << "\n"
                          << fast21 << printf21 << fast11 << printf11;
        }
    }
}

// Lines may store past their end, but never past trc_line_capacity: the
// bytes behind it stay as they were, for the longest lines there are.
TEST(TrcLineFormat, LinesStayInsideTheirCapacity) {
    constexpr char kGuard = '\x5A';
    constexpr size_t kGuardSize = 64;
    const double offsets[] = {-1.7976931348623157e308, 1.7976931348623157e308, -4.9e-324, 1e15, 999999999.9995, -0.0,
                              std::numeric_limits<double>::quiet_NaN()};
    for (size_t length : {0, 1, 7, 8, 9, 64, 200}) {
        for (double offset : offsets) {
            for (uint8_t ide : {0, 1}) {
                for (uint8_t rtr : {0, 1}) {
                    std::vector<uint8_t> data(length, 0xEE);
                    const BusRecord r = can_frame(0, 0xFFFFFFFF, {ide, 1, 1, 1, 1, rtr, 255}, data, 255);
                    const size_t capacity = trc_line_capacity(length);
                    std::vector<char> out(capacity + kGuardSize, kGuard);
                    const size_t length21 = format_trc21_line(out.data(), INT32_MIN, offset, r);
                    const size_t length11 = format_trc11_line(out.data(), INT32_MIN, offset, r);
                    const size_t reserved = format_trc21_reserved_line(out.data(), INT32_MIN, offset, r);
                    EXPECT_LE(reserved, capacity);
                    EXPECT_LE(length21, capacity);
                    EXPECT_LE(length11, capacity);
                    EXPECT_EQ(std::string(out.begin() + static_cast<std::ptrdiff_t>(capacity), out.end()),
                              std::string(kGuardSize, kGuard))
                        << length << " bytes, offset " << offset;
                }
            }
        }
    }
}

TEST(TrcHeader, BothVersions) {
    EXPECT_EQ(format_trc_header(kTraceVersion21, 1'700'000'000.25),
              ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259288194\n;$COLUMNS=N,O,T,B,I,d,L,D\n");
    EXPECT_EQ(format_trc_header(kTraceVersion11, 1'700'000'000.25), ";$FILEVERSION=1.1\n;$STARTTIME=45244.9259288194\n");
    EXPECT_EQ(format_trc_header(kTraceVersion21, 1'700'000'000.25, true),
              ";$FILEVERSION=2.1\n;$STARTTIME=45244.9259288194\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n");
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
