// POSIX systems pass the bytes as typed: they are used as they are.
#include "driver/program_arguments.h"

namespace tracemill {

ProgramArguments::ProgramArguments(int argc, char** argv) : pointers_(argv, argv + argc) { pointers_.push_back(nullptr); }

}  // namespace tracemill
