// Command line and run configuration: options, help, version and the run itself.
#pragma once

namespace tracemill {

struct RunContext;
class OutputFormat;

// The whole program for one output format: parses the command line (the
// format adds its own rows), converts, returns the exit status.
int run_tracemill(int argc, char** argv, OutputFormat& format);

// Builds the option table with the format's rows, parses `argv` and applies
// the options to `context`: log threshold, passwords, input root and the
// file-system roots. True when the conversion is to run; otherwise
// `exit_status` says why not (0 after help or version).
bool parse_command_line(RunContext& context, OutputFormat& format, int argc, char** argv, int& exit_status);

}  // namespace tracemill
