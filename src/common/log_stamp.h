// What a log line's prefix shows: the local time to the millisecond and the
// numbers of the process and thread that wrote it, as the system counts them.
#pragma once

namespace tracemill {

struct LogStamp {
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    long process = 0;
    long thread = 0;
};

LogStamp log_stamp_now();

}  // namespace tracemill
