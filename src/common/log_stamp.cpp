// Log stamps from the wall clock, the process and the kernel's thread number.
#include "common/log_stamp.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

namespace tracemill {

LogStamp log_stamp_now() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    return LogStamp{local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(now.tv_usec / 1000),
                    static_cast<long>(getpid()),
                    static_cast<long>(syscall(SYS_gettid))};
}

}  // namespace tracemill
