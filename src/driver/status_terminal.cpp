// The status terminal on POSIX systems: a tty, and its window size.
#include "driver/status_terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tracemill {

int status_terminal_columns() {
    if (isatty(STDERR_FILENO) != 1) return -1;
    struct winsize size {};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace tracemill
