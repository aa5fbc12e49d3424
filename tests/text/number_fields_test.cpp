// Number fields: every writer must produce exactly what printf makes of the
// same conversion, and nothing past its end. The offset sweeps hold "%13.3f"
// and "%11.1f" to printf byte for byte over a few million values shaped like
// real offsets, exact binary halfway cases and the neighbours of every
// decimal rounding boundary.
#include "text/number_fields.h"
#include "text/printf_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tracemill {
namespace {

const std::vector<uint8_t> kEightBytes = {1, 2, 3, 4, 5, 6, 7, 8};


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

std::string hex_fast(uint32_t value, int digits) {
    char out[32];
    return std::string(out, put_hex(out, value, digits));
}

// Compares both offset formats for one value; returns false on the first mismatch.
bool offsets_match(double value) {
    return fixed_fast(value, 3, 13) == fixed_printf(value, 3, 13) &&
           fixed_fast(value, 1, 11) == fixed_printf(value, 1, 11);
}

TEST(NumberFields, FixedMatchesPrintfOnEdgeValues) {
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

TEST(NumberFields, FixedMatchesPrintfOnRandomOffsets) {
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

TEST(NumberFields, DecimalAndHexMatchPrintf) {
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

// The public field writers write exactly their field: what follows the end
// they return is left as it was.
TEST(NumberFields, FieldWritersStopAtTheirEnd) {
    constexpr char kGuard = '#';
    struct Case {
        std::string name;
        std::string expected;
        char* (*write)(char* out);
    };
    const std::vector<Case> cases = {
        {"%6d", printf_text("%6d", 12), [](char* o) { return put_decimal(o, 12, 6); }},
        {"%7d", printf_text("%7d", 1234), [](char* o) { return put_decimal(o, 1234, 7); }},
        {"%7d wide", printf_text("%7d", 12345678), [](char* o) { return put_decimal(o, 12345678, 7); }},
        {"%6d negative", printf_text("%6d", -5), [](char* o) { return put_decimal(o, -5, 6); }},
        {"%d", printf_text("%d", 7), [](char* o) { return put_decimal(o, 7, 0); }},
        {"%04X", printf_text("%04X", 0x7FFu), [](char* o) { return put_hex(o, 0x7FF, 4); }},
        {"%04X wide", printf_text("%04X", 0x12345u), [](char* o) { return put_hex(o, 0x12345, 4); }},
        {"%08X", printf_text("%08X", 0x1FFFFFFFu), [](char* o) { return put_hex(o, 0x1FFFFFFF, 8); }},
        {"%13.3f", printf_text("%13.3f", 1.5), [](char* o) { return put_fixed(o, 1.5, 3, 13); }},
        {"%13.3f nine digits", printf_text("%13.3f", 123456789.25), [](char* o) { return put_fixed(o, 123456789.25, 3, 13); }},
        {"%11.1f", printf_text("%11.1f", 0.25), [](char* o) { return put_fixed(o, 0.25, 1, 11); }},
        {"%13.3f negative", printf_text("%13.3f", -2.5), [](char* o) { return put_fixed(o, -2.5, 3, 13); }},
        {"one data byte", "AB", [](char* o) { static const uint8_t b[] = {0xAB}; return put_data_bytes(o, b, 1); }},
        {"eight data bytes", "01 02 03 04 05 06 07 08", [](char* o) { return put_data_bytes(o, kEightBytes.data(), 8); }},
        {"five data bytes", "01 02 03 04 05", [](char* o) { return put_data_bytes(o, kEightBytes.data(), 5); }},
    };
    for (const Case& c : cases) {
        char out[64];
        std::memset(out, kGuard, sizeof out);
        const char* end = c.write(out);
        const char* const limit = out + sizeof out;
        EXPECT_EQ(std::string(static_cast<const char*>(out), end), c.expected) << c.name;
        EXPECT_EQ(std::string(end, limit), std::string(static_cast<size_t>(limit - end), kGuard)) << c.name;
    }
}

namespace offsets {

// Both texts side by side, so a failure shows what differs.
struct Pair {
    std::string fast;
    std::string printf;
};

Pair both(double value, int precision, int width) {
    char fast[512];
    char* end = put_fixed(fast, value, precision, width);
    char reference[512];
    const int n = std::snprintf(reference, sizeof reference, "%*.*f", width, precision, value);
    return {std::string(fast, end), std::string(reference, n > 0 ? static_cast<size_t>(n) : 0)};
}

// Checks one value in both columns; counts and reports at most a few failures.
class Sweep {
public:
    void check(double value) {
        for (const auto& [precision, width] : {std::pair{3, 13}, std::pair{1, 11}}) {
            const Pair p = both(value, precision, width);
            ++checked_;
            if (p.fast != p.printf && failures_++ < 5)
                ADD_FAILURE() << std::hexfloat << value << std::defaultfloat << " (" << value << ") precision "
                              << precision << ": fast \"" << p.fast << "\" printf \"" << p.printf << "\"";
        }
    }
    uint64_t checked() const { return checked_; }

private:
    uint64_t checked_ = 0;
    int failures_ = 0;
};

TEST(OffsetFields, OffsetsAsTheWriterComputesThem) {
    // (timestamp - base) * 1000 for timestamps logged in microseconds at
    // today's epoch seconds, over runs from seconds to days.
    std::mt19937_64 random(11);
    Sweep sweep;
    const double base = 1'700'000'000.123456;
    for (int i = 0; i < 1'000'000; ++i) {
        const double span = i % 3 == 0 ? 10.0 : i % 3 == 1 ? 3600.0 : 86400.0 * 7;
        const double micros = std::floor(std::uniform_real_distribution<double>(0, span)(random) * 1e6);
        sweep.check((base + micros * 1e-6 - base) * 1000);
    }
    EXPECT_EQ(sweep.checked(), 2'000'000u);
}

TEST(OffsetFields, ExactHalfwayCasesRoundToEven) {
    // k / 2^n is exactly representable; with n <= 4 many of these are exact
    // ties at three decimals and, with n <= 2, at one decimal.
    Sweep sweep;
    for (int n = 1; n <= 12; ++n) {
        for (int64_t k = -4000; k <= 200'000; ++k) sweep.check(std::ldexp(static_cast<double>(k), -n));
    }
    EXPECT_GT(sweep.checked(), 4'800'000u);
}

TEST(OffsetFields, NeighboursOfDecimalBoundaries) {
    // x.xxx5 boundaries and their nearest doubles on both sides, across magnitudes
    // up to where the column no longer fits its width.
    std::mt19937_64 random(5);
    Sweep sweep;
    for (int magnitude = 0; magnitude <= 16; ++magnitude) {
        const double top = std::pow(10.0, magnitude);
        for (int i = 0; i < 20'000; ++i) {
            const double tie = (std::floor(std::uniform_real_distribution<double>(0, top)(random) * 1000) + 0.5) / 1000;
            for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, INFINITY), -tie, top, top - 0.0005})
                sweep.check(v);
        }
    }
    for (double v : std::initializer_list<double>{0.0, -0.0, 5e-324, -5e-324, 0.00049999999999999999, 0.0005, 0.05, 0.95, 9.9995, 99.95,
                     999999999.9995, 1e15, 1e15 - 0.0625, -1e15 + 0.0625, 9007199254740991.0, 9007199254740993.0,
                     1e300, -1e300, double(INFINITY), -double(INFINITY), double(NAN)})
        sweep.check(v);
    EXPECT_GT(sweep.checked(), 4'000'000u);
}

// Where the column changes how it is written: blank-padded groups below 10^3
// and 10^6, eight digits below 10^8, a ninth in front up to 10^9, the general
// way beyond and for negative values. At each power of ten, the rounding
// edges just under it (…9995 and …95) and their neighbouring doubles.
TEST(OffsetFields, EdgesOfEveryWayTheColumnIsWritten) {
    Sweep sweep;
    for (int magnitude = 0; magnitude <= 17; ++magnitude) {
        const double power = std::pow(10.0, magnitude);
        for (double edge : {power, power - 0.0005, power - 0.05, power - 0.5, power + 0.0005, power / 2}) {
            double below = edge;
            double above = edge;
            for (int step = 0; step < 4; ++step) {
                for (double v : {below, above}) {
                    sweep.check(v);
                    sweep.check(-v);
                }
                below = std::nextafter(below, 0.0);
                above = std::nextafter(above, INFINITY);
            }
        }
    }
    // Around 2^-11, below which the thousandths round to zero without a product.
    for (double v : {0x1p-11, std::nextafter(0x1p-11, 0.0), std::nextafter(0x1p-11, 1.0), 0x1p-10, 0x1.8p-11,
                     0x1p-12, 0x1p-60, 0x1p-64, 0x1p-65, 0x1p-1022, 0x1p-1074})
        sweep.check(v);
    // Around 2^50, the end of the exact integer rounding, and 2^53.
    for (double v : {0x1p50, std::nextafter(0x1p50, 0.0), std::nextafter(0x1p50, INFINITY), 0x1p53, 0x1p53 + 2})
        sweep.check(v);
    for (double v : {std::nan(""), -std::nan(""), double(INFINITY), -double(INFINITY), 0.0, -0.0}) sweep.check(v);
}

// Exact halfway cases in every range the column treats apart: i + j/16 is
// exact and, for odd j, a tie at three decimals; i + j/4 is one at one decimal.
TEST(OffsetFields, HalfwayCasesAtEveryMagnitude) {
    Sweep sweep;
    for (int64_t centre : {0LL, 1'000LL, 1'000'000LL, 10'000'000LL, 100'000'000LL, 1'000'000'000LL, 1'000'000'000'000LL}) {
        for (int64_t integral = centre - 40; integral <= centre + 40; ++integral) {
            for (int sixteenths = 0; sixteenths < 16; ++sixteenths) {
                const double v = static_cast<double>(integral) + sixteenths / 16.0;
                sweep.check(v);
                sweep.check(-v);
            }
        }
    }
}

}  // namespace offsets

}  // namespace
}  // namespace tracemill
