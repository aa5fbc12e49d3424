// Path texts: making them absolute with "/" separators, finding the one folder
// that holds every input, and the small views the walk takes of a path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/file_system_root.h"

namespace tracemill {

struct RunContext;

// Makes `path` absolute with "/" separators; a folder gets a final "/", a file loses one.
// Paths starting with "/" or a drive letter and ":" are already absolute; ".." becomes empty.
void normalize_path(std::string& path);

// Sets context.input_root to the inputs' common parent folder and rewrites the
// inputs relative to it. False with exit status 132 when there is none.
bool find_input_root(RunContext& context, int& exit_status);

// For input lists: sets context.input_root to `base` (made to end in "/") or,
// when `base` is empty, to the longest common folder of the inputs' parent
// folders (the working folder when there are no inputs), and rewrites the
// inputs relative to it. False with exit status 132 when an input lies outside
// `base` or has no parent folder.
bool find_list_root(RunContext& context, std::string base, int& exit_status);

// The text after the last "." of the last path segment; empty when the name has no ".".
std::string_view file_extension(std::string_view path);
// Extension mf4, mfc, mfe or mfm in any letter case.
bool is_log_file(std::string_view path);
// The text up to and including the last "/"; empty without one.
std::string_view parent_folder(std::string_view path);

// Platform stat of an absolute path (local disk): Missing when it does not exist,
// none on any other error.
std::optional<PathInfo> stat_local_path(const std::string& full_path);
// The working folder with "/" separators; false when it cannot be had.
bool current_local_folder(std::string& folder);
// On systems with drive letters, a path from the root of no named drive
// ("/logs") gets the working folder's drive ("D:/logs"); elsewhere it stays.
void add_current_drive(std::string& path);

}  // namespace tracemill
