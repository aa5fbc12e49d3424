# Writes the build-information header from the source tree's git state.
# Runs as a build step (cmake -P) before the converter library compiles, so a
# commit or an edit after configuring still shows in `tracemill --version`;
# the header is rewritten only when its text changes.
#   -DSOURCE_DIR=<tree> -DOUTPUT=<header> -DTEMPLATE=<header.in> -DRELEASE=<x.y.z>
#
#   version  YY.MM.DD.<first 8 hex digits of the commit>  (the commit's date)
#   commit   the 40-hex-digit commit
#   dirty    "-dirty" when tracked files differ from the commit, else empty
# Outside a git checkout the commit reads "unknown" and the date is today's.
set(TRACEMILL_RELEASE "${RELEASE}")
set(TRACEMILL_GIT_SHA "unknown")
set(TRACEMILL_GIT_SHORT "unknown")
set(TRACEMILL_DIRTY "")
string(TIMESTAMP TRACEMILL_VERSION_DATE "%y.%m.%d" UTC)

find_package(Git QUIET)
set(ENV{GIT_OPTIONAL_LOCKS} 0)  # `git status` from a build step never rewrites the index
if(GIT_FOUND)
  # A tree owned by another user (a root `make install`) is still read.
  set(git ${GIT_EXECUTABLE} -c safe.directory=${SOURCE_DIR})
  execute_process(COMMAND ${git} rev-parse HEAD
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE sha RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc EQUAL 0 AND sha MATCHES "^[0-9a-f]+$")
    set(TRACEMILL_GIT_SHA "${sha}")
    string(SUBSTRING "${sha}" 0 8 TRACEMILL_GIT_SHORT)
    execute_process(COMMAND ${git} log -1 --format=%cd --date=format:%y.%m.%d
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    OUTPUT_VARIABLE date ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(date)
      set(TRACEMILL_VERSION_DATE "${date}")
    endif()
    # Untracked files (build folders, demo output) do not make a tree dirty.
    execute_process(COMMAND ${git} status --porcelain --untracked-files=no
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    OUTPUT_VARIABLE changes RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0 OR changes)
      set(TRACEMILL_DIRTY "-dirty")
    endif()
  endif()
endif()
set(TRACEMILL_VERSION "${TRACEMILL_VERSION_DATE}.${TRACEMILL_GIT_SHORT}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
