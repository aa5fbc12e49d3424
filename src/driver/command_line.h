// Command line and run configuration: options, help, version and the run itself.
#pragma once

namespace tracemill {

// The whole program: parses the command line, converts, returns the exit status.
int run_tracemill(int argc, char** argv);

}  // namespace tracemill
