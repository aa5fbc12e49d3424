// The exit status table that ends the help.
#pragma once

#include <cstdio>

namespace tracemill {

// "Exit status …" and one entry per status, its meaning wrapped under it.
void print_exit_status_table(FILE* out);

}  // namespace tracemill
