# The release number lives in project(VERSION) of the top-level CMakeLists.txt;
# the package version and `tracemill --version` both take it from there.
# The commit and the dirty mark are read from git at every build (build_info.cmake).
set(TRACEMILL_BUILD_INFO_HEADER ${CMAKE_BINARY_DIR}/generated/build_info.h)
add_custom_target(tracemill_build_info
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${TRACEMILL_BUILD_INFO_HEADER}
          -DTEMPLATE=${CMAKE_SOURCE_DIR}/cmake/build_info.h.in -DRELEASE=${PROJECT_VERSION}
          -P ${CMAKE_SOURCE_DIR}/cmake/build_info.cmake
  BYPRODUCTS ${TRACEMILL_BUILD_INFO_HEADER}
  COMMENT "Reading the source commit"
  VERBATIM)
