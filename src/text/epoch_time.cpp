// Epoch times as text, without the C library's time functions: records come
// by the million, and their dates are computed from the day number directly.
#include "text/epoch_time.h"

#include <cmath>

namespace tracemill {
namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;
constexpr int64_t kMicrosPerDay = 86'400 * kMicrosPerSecond;
// 0000-01-01 and 9999-12-31 23:59:59.999999 as microseconds since 1970.
constexpr int64_t kEarliest = -719'528 * kMicrosPerDay;
constexpr int64_t kLatest = 2'932'897 * kMicrosPerDay - 1;

// `value` in exactly `digits` decimal digits (the lowest ones).
char* put_digits(char* out, uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

struct CivilDate {
    int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day number (days since 1970-01-01),
// counted in 400-year eras that start on 1 March.
CivilDate civil_from_days(int64_t days) {
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto day_of_era = static_cast<uint64_t>(days - era * 146'097);
    const uint64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const uint64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const uint64_t month_from_march = (5 * day_of_year + 2) / 153;
    const auto day = static_cast<unsigned>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    const int64_t year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

}  // namespace

int64_t epoch_micros(double seconds) {
    const double micros = std::round(seconds * 1e6);
    if (!(micros > -9.2e18 && micros < 9.2e18)) return 0;
    return static_cast<int64_t>(micros);
}

char* put_epoch_seconds(char* out, int64_t micros, int digits) {
    if (micros < 0) *out++ = '-';
    const uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) : static_cast<uint64_t>(micros);
    uint64_t seconds = magnitude / kMicrosPerSecond;
    int needed = 1;
    for (uint64_t rest = seconds / 10; rest != 0; rest /= 10) ++needed;
    out = put_digits(out, seconds, needed > digits ? needed : digits);
    *out++ = '.';
    return put_digits(out, magnitude % kMicrosPerSecond, 6);
}

char* put_iso_time(char* out, int64_t micros) {
    if (micros < kEarliest) micros = kEarliest;
    if (micros > kLatest) micros = kLatest;
    const int64_t days = (micros >= 0 ? micros : micros - kMicrosPerDay + 1) / kMicrosPerDay;
    const auto of_day = static_cast<uint64_t>(micros - days * kMicrosPerDay);
    const CivilDate date = civil_from_days(days);
    const uint64_t seconds = of_day / kMicrosPerSecond;
    out = put_digits(out, static_cast<uint64_t>(date.year), 4);
    *out++ = '-';
    out = put_digits(out, date.month, 2);
    *out++ = '-';
    out = put_digits(out, date.day, 2);
    *out++ = 'T';
    out = put_digits(out, seconds / 3600, 2);
    *out++ = ':';
    out = put_digits(out, seconds / 60 % 60, 2);
    *out++ = ':';
    out = put_digits(out, seconds % 60, 2);
    *out++ = '.';
    out = put_digits(out, of_day % kMicrosPerSecond, 6);
    *out++ = 'Z';
    return out;
}

}  // namespace tracemill
