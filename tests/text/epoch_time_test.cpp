// Epoch times as text, checked against the C library's gmtime and printf.
#include "text/epoch_time.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

namespace tracemill {
namespace {

std::string iso(int64_t micros) {
    char out[kIsoTimeLength];
    return std::string(out, put_iso_time(out, micros));
}

std::string reference_iso(int64_t micros) {
    const int64_t seconds = micros >= 0 ? micros / 1'000'000 : (micros - 999'999) / 1'000'000;
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    gmtime_r(&t, &parts);
    char text[64];
    const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    snprintf(text + n, sizeof text - n, ".%06" PRId64 "Z", micros - seconds * 1'000'000);
    return text;
}

TEST(EpochTime, IsoTimeMatchesGmtime) {
    // Every week over four centuries around 1970 (leap days of 1900, 2000 and 2100
    // among them), at a time of day that moves along, and the last moment written.
    for (int64_t day = -73'000; day < 73'000; day += 7) {
        const int64_t micros = day * 86'400'000'000 + (day * 7'919'000'123 % 86'400'000'000 + 86'400'000'000) % 86'400'000'000;
        ASSERT_EQ(iso(micros), reference_iso(micros)) << micros;
    }
    EXPECT_EQ(iso(-1), reference_iso(-1));
    EXPECT_EQ(iso(253'402'300'799'999'999), "9999-12-31T23:59:59.999999Z");
    // Beyond the four-digit years the ends stand in.
    EXPECT_EQ(iso(INT64_MAX), "9999-12-31T23:59:59.999999Z");
    EXPECT_EQ(iso(INT64_MIN), "0000-01-01T00:00:00.000000Z");
}

TEST(EpochTime, SecondsAndRounding) {
    const struct {
        double seconds;
        int digits;
        const char* text;
    } cases[] = {
        {1'700'000'000.25, 10, "1700000000.250000"}, {12.0000004, 10, "0000000012.000000"},
        {12.9999996, 10, "0000000013.000000"},       {12.5, 1, "12.500000"},
        {-1.5, 1, "-1.500000"},                      {1e300, 1, "0.000000"},
    };
    for (const auto& c : cases) {
        char out[48];
        EXPECT_EQ(std::string(out, put_epoch_seconds(out, epoch_micros(c.seconds), c.digits)), c.text) << c.seconds;
    }
}

}  // namespace
}  // namespace tracemill
