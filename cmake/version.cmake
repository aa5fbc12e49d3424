# Version information taken from git at configure time:
#   version  YY.MM.DD.<first 8 hex digits of the commit>  (the commit's date)
#   commit   the 40-hex-digit commit
# Outside a git checkout the commit reads "unknown" and the date is today's.
find_package(Git QUIET)
set(TRACEMILL_GIT_SHA "unknown")
set(TRACEMILL_GIT_SHORT "unknown")
string(TIMESTAMP TRACEMILL_VERSION_DATE "%y.%m.%d" UTC)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE sha RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc EQUAL 0 AND sha MATCHES "^[0-9a-f]+$")
    set(TRACEMILL_GIT_SHA "${sha}")
    string(SUBSTRING "${sha}" 0 8 TRACEMILL_GIT_SHORT)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%cd --date=format:%y.%m.%d
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE date ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(date)
      set(TRACEMILL_VERSION_DATE "${date}")
    endif()
  endif()
  # Re-run configure when HEAD moves so the version follows the commit.
  if(EXISTS ${CMAKE_SOURCE_DIR}/.git/HEAD)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/.git/HEAD)
    file(READ ${CMAKE_SOURCE_DIR}/.git/HEAD head)
    if(head MATCHES "^ref: ([^\n]+)")
      if(EXISTS ${CMAKE_SOURCE_DIR}/.git/${CMAKE_MATCH_1})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/.git/${CMAKE_MATCH_1})
      endif()
    endif()
  endif()
endif()
set(TRACEMILL_VERSION "${TRACEMILL_VERSION_DATE}.${TRACEMILL_GIT_SHORT}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/build_info.h.in ${CMAKE_BINARY_DIR}/generated/build_info.h @ONLY)
