// Placeholder entry until the option table lands.
#include "driver/command_line.h"

namespace tracemill {

int run_tracemill(int, char**) { return 0; }

}  // namespace tracemill
