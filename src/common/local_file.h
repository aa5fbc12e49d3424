// Files on the local disk named by a UTF-8 path, for the whole-file reads and
// writes outside the output tree (the password file, the run report, plain
// file streams). Descriptors are those that read, write and close take.
#pragma once

#include <cstdio>
#include <string>

namespace tracemill {

// Opens for reading without waiting on a FIFO or device; -1 with errno set.
// The caller checks that it is a regular file.
int open_local_file_for_reading(const std::string& path);

// Creates or empties a file for writing, never through a symbolic link at
// `path` itself; -1 with errno set.
int create_local_file_for_writing(const std::string& path);

// The same two for the standard I/O library, in binary mode; none with errno set.
std::FILE* open_local_stdio_file(const std::string& path, bool write);

}  // namespace tracemill
