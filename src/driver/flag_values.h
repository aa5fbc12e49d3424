// Values given to options that take none ("--delete-converted=yes"). argtable
// reports such an argument as an invalid option under a meaningless name, or
// under an error code of another kind, so they are found before its parse.
#pragma once

#include <argtable2.h>

#include <cstdio>
#include <vector>

namespace tracemill {

// An argument "--<option>=<value>" whose option takes no value.
struct ValueToFlag {
    const arg_hdr* row;
    const char* argument;  // as given
};

// Walks `argv` up to "--" for "--<name>=<value>" where <name> is the long name
// of a row of `table` without a value, or its only abbreviation (as getopt
// matches them). Returns those; `rest` gets every other argument, then a null.
std::vector<ValueToFlag> split_off_values_to_flags(void** table, int argc, char** argv, std::vector<char*>& rest);

// One line each: "<program>: option -d|--delete-converted takes no value: "<argument>"".
void report_values_to_flags(FILE* out, const char* program, const std::vector<ValueToFlag>& values_to_flags);

}  // namespace tracemill
