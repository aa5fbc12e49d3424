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

}  // namespace
}  // namespace tracemill
