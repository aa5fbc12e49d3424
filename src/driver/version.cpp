// Version information captured at configure time (see cmake/version.cmake).
#include "driver/version.h"

#include "build_info.h"

namespace tracemill {

const char* version_text() { return TRACEMILL_VERSION; }
const char* build_date_text() { return TRACEMILL_BUILD_DATE; }
const char* git_sha_text() { return TRACEMILL_GIT_SHA; }

void print_version(FILE* out) {
    fprintf(out, "Version: %s\n", version_text());
    fprintf(out, "Build date: %s\n", build_date_text());
    fprintf(out, "GIT SHA: %s%s\n", git_sha_text(), "");
}

}  // namespace tracemill
