// Version information captured at build time (see cmake/build_info.cmake).
#include "driver/version.h"

#include "build_info.h"

namespace tracemill {

const char* release_text() { return TRACEMILL_RELEASE; }
const char* version_text() { return TRACEMILL_VERSION; }
const char* build_date_text() { return TRACEMILL_BUILD_DATE; }
const char* git_sha_text() { return TRACEMILL_GIT_SHA; }
const char* dirty_text() { return TRACEMILL_DIRTY; }

void print_version(FILE* out) {
    // The first three lines keep their long-standing form for scripts that read them;
    // the release line comes last.
    fprintf(out, "Version: %s\n", version_text());
    fprintf(out, "Build date: %s\n", build_date_text());
    fprintf(out, "GIT SHA: %s%s\n", git_sha_text(), "");
    fprintf(out, "Release: %s, commit %s%s\n", release_text(), TRACEMILL_GIT_SHORT, dirty_text());
}

}  // namespace tracemill
