// Physical values from raw values: identity, linear and value tables.
#include "mdf/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tracemill {
namespace {

struct ConversionCase {
    const char* what;
    uint8_t type;
    std::vector<double> values;
    double raw;
    double expected;  // NaN: no value
};

class ConversionCases : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionCases, Applies) {
    const ConversionCase& c = GetParam();
    const Conversion conversion = make_conversion(c.type, c.values.data(), c.values.size());
    const double value = conversion.apply(c.raw);
    if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(value)) << c.what << " gave " << value;
    else EXPECT_EQ(value, c.expected) << c.what;
}

constexpr double kNoValue = NAN;

INSTANTIATE_TEST_SUITE_P(
    Rules, ConversionCases,
    ::testing::Values(
        ConversionCase{"linear: offset 1.5, factor 2", 1, {1.5, 2}, 10, 21.5},
        ConversionCase{"linear with extra values", 1, {-1, 0.5, 99}, 8, 3},
        ConversionCase{"linear with one value is the identity", 1, {3}, 10, 10},
        ConversionCase{"linear without values is the identity", 1, {}, 10, 10},
        ConversionCase{"table: first pair of a repeated key wins", 5, {1, 10, 1, 20}, 1, 10},
        ConversionCase{"table: missing key", 5, {1, 10, 1, 20}, 2, kNoValue},
        ConversionCase{"table: odd value count ignores the last", 5, {1, 10, 2}, 2, kNoValue},
        ConversionCase{"table: one value is an empty table", 5, {1}, 1, kNoValue},
        ConversionCase{"table: -0 and 0 are the same key", 5, {-0.0, 7}, 0.0, 7},
        ConversionCase{"table: NaN finds nothing", 5, {NAN, 7}, NAN, kNoValue},
        ConversionCase{"other types are the identity", 3, {1, 2, 3}, 4, 4}));

TEST(Conversion, CopiesOwnTheirParameters) {
    const std::vector<double> values = {1, 10, 2, 20};
    Conversion copy;
    {
        const Conversion original = make_conversion(5, values.data(), values.size());
        copy = original;
        EXPECT_NE(copy.rule(), original.rule());
    }
    EXPECT_EQ(copy.apply(2), 20);
    EXPECT_FALSE(copy.is_identity());
    EXPECT_TRUE(Conversion{}.is_identity());
}

}  // namespace
}  // namespace tracemill
