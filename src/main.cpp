// Entry point of the tracemill command-line converter: the output format is
// chosen here, and interrupted runs clean up after themselves.
#include "driver/command_line.h"
#include "driver/temporary_files.h"
#include "trc/trace_format.h"

int main(int argc, char** argv) {
    tracemill::remove_temporaries_on_interrupt();
    tracemill::TraceFormat trace_files;
    return tracemill::run_tracemill(argc, argv, trace_files);
}
