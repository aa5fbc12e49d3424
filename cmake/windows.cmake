# The Windows build (cross-compiled with cmake/mingw-w64-x86_64.cmake): the
# static libraries' needs and the system libraries they call.
# Expat's header marks its functions as DLL imports unless told the library is static.
target_compile_definitions(tracemill_core PUBLIC XML_STATIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# MinGW's switch for gmtime_r and localtime_r (over the C runtime's gmtime_s).
target_compile_definitions(tracemill_core PUBLIC _POSIX_THREAD_SAFE_FUNCTIONS=200112L)
# libcrypto: sockets for its BIO layer, the system's random numbers and certificate stores.
target_link_libraries(tracemill_core PUBLIC ws2_32 bcrypt crypt32 advapi32 user32)
# Paths on the command line arrive as UTF-16 and are handed on as UTF-8.
target_link_libraries(tracemill_core PUBLIC shell32)

# The tests that run under Wine: every test file but those that need what only
# POSIX systems have (fork and exec, signals, modes, links, FIFOs, /proc).
set(TRACEMILL_POSIX_ONLY_TESTS
  e2e/.*                               # a shell runs the converter (scripts/test-windows runs them against it)
  asc/asc_writer_test.cpp              # wait statuses of child processes
  driver/temporary_files_test.cpp      # the signal handler's registry
  driver/local_output_tree_test.cpp    # descriptors, modes and links
  driver/local_root_test.cpp
  driver/input_walk_test.cpp
  streams/file_stream_test.cpp         # holes and truncation by descriptor
  streams/buffered_stream_test.cpp     # a folder opened as a file
  tools/bench_inputs_test.cpp          # a shell runs the tools
  tools/container_writer_test.cpp
)
function(tracemill_windows_tests list_var)
  set(kept "")
  foreach(file ${${list_var}})
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR}/tests ${file})
    set(posix_only FALSE)
    foreach(pattern ${TRACEMILL_POSIX_ONLY_TESTS})
      if(relative MATCHES "^${pattern}$")
        set(posix_only TRUE)
      endif()
    endforeach()
    if(NOT posix_only)
      list(APPEND kept ${file})
    endif()
  endforeach()
  set(${list_var} ${kept} PARENT_SCOPE)
endfunction()

# Single tests that check what only POSIX systems give, left out of discovery.
set(TRACEMILL_WINDOWS_TEST_FILTER
  # The C runtime's printf, their reference, drops a negative NaN's sign ("nan");
  # the converter's own number fields write "-nan" as on Linux.
  NumberFields.FixedMatchesPrintfOnEdgeValues
  NumberFields.FixedMatchesPrintfOnRandomOffsets
  OffsetFields.EdgesOfEveryWayTheColumnIsWritten
  TrcLineFormat.RandomRecordsMatchPrintf
  # The C runtime's gmtime_s, the reference, refuses times before 1970.
  EpochTime.IsoTimeMatchesGmtime
  # Huge-page mappings are a Linux feature.
  PageMemory.LargeAreasStartOnHugePageBoundaries
  # A control character in a file name, which Windows does not allow.
  DeletionGate.RemovesOnlyWithoutReasonAndNamesEveryReason
  # A name too long for the system: Wine reports it as missing, not as an error.
  NormalizePath.StatFailureIsLoggedAndThePathKept
)
list(JOIN TRACEMILL_WINDOWS_TEST_FILTER ":" windows_test_filter)
set(TRACEMILL_TEST_DISCOVERY TEST_FILTER "-${windows_test_filter}")
