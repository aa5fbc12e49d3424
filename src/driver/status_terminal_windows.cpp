// The status terminal on Windows: a console that takes the control sequences
// of the status line once asked to (Windows 10 and later), and its window width.
#include "driver/status_terminal.h"

#include <windows.h>

namespace tracemill {

int status_terminal_columns() {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode) ||
        !GetConsoleScreenBufferInfo(console, &info))
        return -1;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
        !SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return -1;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace tracemill
