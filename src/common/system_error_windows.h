// The C library's error numbers for the system's error codes, so that log
// lines and listings name a failure the same way on every system.
#pragma once

#include <windows.h>

namespace tracemill {

// errno's value for a GetLastError code (EIO for one without a closer match).
int errno_from_windows(DWORD error);

}  // namespace tracemill
