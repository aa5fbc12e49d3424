// Input lists (--files-from): the paths to convert, read from a file or from
// standard input, one per line or NUL-separated as `find -print0` writes them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tracemill {

// Splits `text` at `separator` ('\n' or '\0'); empty names are left out. A
// line list also drops the '\r' that ends a line written on another platform.
std::vector<std::string> split_input_list(std::string_view text, char separator);

// Reads the list at `source` ("-": standard input) and appends its paths, in
// list order, to `paths`. False (logged) when the list cannot be read.
bool read_input_list(const std::string& source, char separator, std::vector<std::string>& paths);

}  // namespace tracemill
