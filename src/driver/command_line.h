// Command line and run configuration: options, help, version and the run itself.
#pragma once

namespace tracemill {

struct RunContext;

// The whole program: parses the command line, converts, returns the exit status.
int run_tracemill(int argc, char** argv);

// Builds the option table, parses `argv` and applies the options to `context`:
// log threshold, passwords, input root and the file-system roots. True when the
// conversion is to run; otherwise `exit_status` says why not (0 after help or version).
bool parse_command_line(RunContext& context, int argc, char** argv, int& exit_status);

}  // namespace tracemill
