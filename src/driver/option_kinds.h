// Argtable option kinds whose values are handed to a check callback after
// parsing: the path-list kind (-p, -O, the positional inputs) and the
// validated text kind (-f). A rejected check is recorded as its result × 256,
// which keeps it apart from the library's own error codes.
#pragma once

#include <argtable2.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tracemill {

struct CheckedOption;

// Gets the collected values and the destination; returns 0 when they are accepted.
using OptionCheck = int (*)(const char* const* values, int count, void* destination);
// Prints the text for a rejected check; `code` is what the check returned.
using OptionErrorReport = void (*)(FILE* out, int code, const CheckedOption& option, const char* progname);

// Library error codes shared with the stock option kinds.
inline constexpr int kOptionTooFew = 1;
inline constexpr int kOptionTooMany = 2;
inline constexpr int kCheckScale = 256;
// Check result of the path-list kind when a value could not be stored.
inline constexpr int kCheckOutOfMemory = 3;

struct CheckedOption {
    arg_hdr hdr;          // first, so argtable reaches the option through it
    int count;
    const char** values;  // hdr.maxcount slots, pointing into argv
    OptionCheck check;
    OptionErrorReport report;
    void* destination;
};

// The check behind every path list: each value, in order, is copied, made
// absolute with normalize_path and appended to the std::vector<std::string>
// destination. Returns kCheckOutOfMemory when an append fails.
int normalize_into_list(const char* const* values, int count, void* destination);
// Prints "internal error, could not allocate memory" for kCheckOutOfMemory only.
void report_path_list_error(FILE* out, int code, const CheckedOption& option, const char* progname);

// A file-style option ("<file>" when `datatype` is null) collecting into `destination`.
// Allocated with malloc like the stock kinds, so arg_freetable releases it.
CheckedOption* path_list_option(const char* shortopts, const char* longopts, const char* datatype,
                                int mincount, int maxcount, const char* glossary,
                                std::vector<std::string>* destination);

// A text option ("<string>" when `datatype` is null) with caller-supplied callbacks.
CheckedOption* validated_text_option(const char* shortopts, const char* longopts, const char* datatype,
                                     int mincount, int maxcount, const char* glossary,
                                     OptionCheck check, OptionErrorReport report, void* destination);

}  // namespace tracemill
