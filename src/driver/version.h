// Version, build date and source commit of this build, as the -v option prints them.
#pragma once

#include <cstdio>

namespace tracemill {

// The release number, three dot-separated numbers ("0.2.0").
const char* release_text();
// Two-digit year, month and day and the first eight hex digits of the commit, joined by ".".
const char* version_text();
// Month abbreviation, day, year and time of day of the build.
const char* build_date_text();
// The 40-hex-digit source commit, or "unknown" outside a git checkout.
const char* git_sha_text();
// "-dirty" when the build's tracked sources differed from the commit, else "".
const char* dirty_text();

// Writes the version lines to `out`: version, build date and commit, then the
// release number with the short commit and its dirty mark.
void print_version(FILE* out);

}  // namespace tracemill
