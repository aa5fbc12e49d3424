// Entry point of the tracemill command-line converter.
#include "driver/command_line.h"

int main(int argc, char** argv) { return tracemill::run_tracemill(argc, argv); }
