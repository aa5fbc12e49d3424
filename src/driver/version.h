// Version, build date and source commit of this build, as the -v option prints them.
#pragma once

#include <cstdio>

namespace tracemill {

// Two-digit year, month and day and the first eight hex digits of the commit, joined by ".".
const char* version_text();
// Month abbreviation, day, year and time of day of the build.
const char* build_date_text();
// The 40-hex-digit source commit, or "unknown" outside a git checkout.
const char* git_sha_text();

// Writes the three version lines to `out`.
void print_version(FILE* out);

}  // namespace tracemill
