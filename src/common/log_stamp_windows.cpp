// Log stamps from the system's local time and its process and thread ids.
#include "common/log_stamp.h"

#include <windows.h>

namespace tracemill {

LogStamp log_stamp_now() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return LogStamp{local.wMonth,
                    local.wDay,
                    local.wHour,
                    local.wMinute,
                    local.wSecond,
                    local.wMilliseconds,
                    static_cast<long>(GetCurrentProcessId()),
                    static_cast<long>(GetCurrentThreadId())};
}

}  // namespace tracemill
