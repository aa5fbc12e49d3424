// Reading an input list in one piece and cutting it into paths.
#include "driver/input_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {

std::vector<std::string> split_input_list(std::string_view text, char separator) {
    std::vector<std::string> paths;
    while (!text.empty()) {
        const size_t end = text.find(separator);
        std::string_view name = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (separator == '\n' && !name.empty() && name.back() == '\r') name.remove_suffix(1);
        if (!name.empty()) paths.emplace_back(name);
    }
    return paths;
}

bool read_input_list(const std::string& source, char separator, std::vector<std::string>& paths) {
    const bool from_stdin = source == "-";
    FILE* file = from_stdin ? stdin : fopen(source.c_str(), "rbe");
    if (file == nullptr) {
        TM_LOG(kError, "Could not open input list %s: %s", escape_file_name(source).c_str(), std::strerror(errno));
        return false;
    }
    std::string text;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    // A failed read is not the end of the list.
    const bool failed = ferror(file) != 0;
    const int error = errno;
    if (!from_stdin) fclose(file);
    if (failed) {
        TM_LOG(kError, "Could not read input list %s: %s", escape_file_name(source).c_str(), std::strerror(error));
        return false;
    }
    for (std::string& path : split_input_list(text, separator)) paths.push_back(std::move(path));
    return true;
}

}  // namespace tracemill
