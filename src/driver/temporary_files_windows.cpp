// Interrupts on Windows. Temporary output files are created marked for
// deletion when their handle closes (see the local output tree), so a run
// ended by Ctrl+C, Ctrl+Break or closing the console leaves none behind
// without a registry: the system's default action ends the process and
// closing its handles removes them. The handler only takes the status line
// off the console first.
#include "driver/temporary_files.h"

#include <windows.h>

#include "common/log.h"

namespace tracemill {
namespace {

BOOL WINAPI on_console_event(DWORD) {
    clear_log_status_line_in_signal_handler();
    return FALSE;  // on to the default action, which ends the process
}

}  // namespace

void remove_temporaries_on_interrupt() { SetConsoleCtrlHandler(on_console_event, TRUE); }

}  // namespace tracemill
