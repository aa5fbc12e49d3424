// The offset column is written without printf on the per-line path; these
// sweeps hold it to printf's "%13.3f" and "%11.1f" byte for byte over a few
// million values shaped like real offsets, exact binary halfway cases and the
// neighbours of every decimal rounding boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>

#include "trc/trc_line_format.h"

namespace tracemill {
namespace {

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

TEST(TrcOffsetDigits, OffsetsAsTheWriterComputesThem) {
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

TEST(TrcOffsetDigits, ExactHalfwayCasesRoundToEven) {
    // k / 2^n is exactly representable; with n <= 4 many of these are exact
    // ties at three decimals and, with n <= 2, at one decimal.
    Sweep sweep;
    for (int n = 1; n <= 12; ++n) {
        for (int64_t k = -4000; k <= 200'000; ++k) sweep.check(std::ldexp(static_cast<double>(k), -n));
    }
    EXPECT_GT(sweep.checked(), 4'800'000u);
}

TEST(TrcOffsetDigits, NeighboursOfDecimalBoundaries) {
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
TEST(TrcOffsetDigits, EdgesOfEveryWayTheColumnIsWritten) {
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
TEST(TrcOffsetDigits, HalfwayCasesAtEveryMagnitude) {
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

}  // namespace
}  // namespace tracemill
