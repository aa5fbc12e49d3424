// The binary log file header: signature, sizes, object count, and the start
// and end times as SYSTEMTIME fields in UTC.
#include "blf/blf_file_header.h"

#include <cstring>
#include <ctime>

#include "blf/blf_layout.h"

namespace tracemill::blf {
namespace {

// Binary log version announced to readers: major, minor, build, patch.
constexpr uint8_t kBinaryLogVersion[4] = {4, 7, 1, 0};

// Year, month, day of week (0 = Sunday), day, hour, minute, second and
// millisecond; all zero for a time outside the years 1601..9999.
void put_system_time(uint8_t* out, int64_t ms) {
    std::memset(out, 0, 16);
    const int64_t kFirst = -11644473600LL * 1000;  // 1601-01-01
    const int64_t kLast = 253402300799LL * 1000;   // 9999-12-31 23:59:59
    if (ms < kFirst || ms > kLast) return;
    int64_t seconds = ms / 1000;
    int64_t millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    struct tm utc {};
    if (gmtime_r(&t, &utc) == nullptr) return;
    const int fields[8] = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_wday, utc.tm_mday,
                           utc.tm_hour,        utc.tm_min,     utc.tm_sec,  static_cast<int>(millis)};
    for (int i = 0; i < 8; ++i) put_u16(out + 2 * i, static_cast<uint16_t>(fields[i]));
}

}  // namespace

void encode_file_header(uint8_t* out, const FileSummary& summary) {
    std::memset(out, 0, kFileHeaderSize);
    std::memcpy(out, "LOGG", 4);
    put_u32(out + 4, kFileHeaderSize);
    // Application id 0 (none of the registered ones) and version 0.0.0.
    std::memcpy(out + 12, kBinaryLogVersion, 4);
    put_u64(out + kFileSizeAt, summary.file_size);
    put_u64(out + kUncompressedSizeAt, summary.uncompressed_size);
    put_u32(out + kObjectCountAt, summary.object_count);
    put_system_time(out + kStartTimeAt, summary.start_ms);
    put_system_time(out + kEndTimeAt, summary.end_ms);
}

}  // namespace tracemill::blf
