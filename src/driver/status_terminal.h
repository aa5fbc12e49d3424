// Whether standard error is a terminal that can show the status line, and
// how wide it is.
#pragma once

namespace tracemill {

// The terminal's columns (0 when it does not tell); -1 when standard error
// is no terminal that takes the status line's control sequences.
int status_terminal_columns();

}  // namespace tracemill
