// Path normalisation, the input root, and extension and folder views of a path.
#include "driver/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/run_context.h"

namespace tracemill {

namespace {

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool starts_with_drive(const std::string& path) {
    return path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == ':';
}

// One left-to-right pass over non-overlapping "//": three slashes become two.
void collapse_double_slashes(std::string& path) {
    size_t out = 0;
    for (size_t i = 0; i < path.size(); ++out) {
        path[out] = path[i];
        i += (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') ? 2 : 1;
    }
    path.resize(out);
}

// Joins a relative path with the working folder; false when that folder is unusable.
bool make_absolute(std::string& path) {
    std::string folder;
    if (!current_local_folder(folder)) return false;
    std::unique_ptr<FileSystemRoot> root = local_root_new(std::move(folder));
    if (!root) return false;
    path = path == ".." ? std::string() : root->full_path(path);
    return true;
}

}  // namespace

void normalize_path(std::string& path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    collapse_double_slashes(path);
    if (path.size() == 2 && is_ascii_letter(path[0]) && path[1] == ':') path += '/';
    if (!path.empty() && path[0] == '/') add_current_drive(path);
    const bool absolute = starts_with_drive(path) || (!path.empty() && path[0] == '/');
    if (!absolute && !make_absolute(path)) return;

    // The platform refuses a file named with a final "/", so ask without it.
    std::string query = path;
    while (query.size() > 1 && query.back() == '/') query.pop_back();
    std::optional<PathInfo> info = stat_local_path(query);
    if (!info) {
        TM_LOG(kError, "Could not stat path %s", escape_file_name(path).c_str());
        return;
    }
    if (info->kind == PathKind::Directory && (path.empty() || path.back() != '/')) path += '/';
    if (info->kind == PathKind::File && !path.empty() && path.back() == '/') path.pop_back();
}

bool find_input_root(RunContext& context, int& exit_status) {
    std::vector<std::string_view> candidates;
    for (const std::string& input : context.inputs) {
        const size_t n = input.size();
        size_t i = (n > 1 && input[n - 1] == '/') ? n - 2 : n - 1;  // wraps to npos when empty
        while (n > 0 && i >= 1 && input[i] != '/') --i;
        if (n == 0 || i < 1) {
            TM_LOG(kFatal, "Could not find root for %s", escape_file_name(input).c_str());
            exit_status = 132;
            return false;
        }
        std::string_view candidate(input.data(), i + 1);
        bool known = false;
        for (std::string_view seen : candidates) known = known || seen == candidate;
        if (!known) candidates.push_back(candidate);
    }
    if (candidates.size() != 1) {
        if (candidates.size() > 1) TM_LOG(kFatal, "No common root detected for all inputs");
        exit_status = 132;
        return false;
    }
    context.input_root = std::string(candidates.front());
    const size_t root_length = context.input_root.size();
    for (std::string& input : context.inputs) input.erase(0, std::min(input.size(), root_length));
    return true;
}

namespace {

// The folder holding `input` ("/logs/" for "/logs/a.MF4" and for "/logs/run1/"); empty when none.
std::string_view holding_folder(std::string_view input) {
    if (input.size() > 1 && input.back() == '/') input.remove_suffix(1);
    const size_t slash = input.rfind('/');
    return slash == std::string_view::npos || input.size() < 2 ? std::string_view() : input.substr(0, slash + 1);
}

// "." segments out and ".." taken back a level as text, so that "./a/x.MF4"
// from find and "a/x.MF4" name one place and one shard.
void lexically_normalize(std::string& path) {
    if (path.find("/.") == std::string::npos) return;
    // As UTF-8 on every system (a plain string would be taken in the locale's code page).
    try {
        const std::u8string text(path.begin(), path.end());
        const std::u8string normal = std::filesystem::path(text).lexically_normal().generic_u8string();
        path.assign(normal.begin(), normal.end());
    } catch (const std::exception&) {
        // Bytes that are no UTF-8 cannot be taken apart here; the path stays as it was.
    }
}

// The longest common folder of two folders that both end in "/".
std::string_view common_folder(std::string_view a, std::string_view b) {
    size_t same = 0;
    while (same < a.size() && same < b.size() && a[same] == b[same]) ++same;
    const size_t slash = a.substr(0, same).rfind('/');
    return slash == std::string_view::npos ? std::string_view() : a.substr(0, slash + 1);
}

}  // namespace

bool find_list_root(RunContext& context, std::string base, int& exit_status) {
    for (std::string& input : context.inputs) lexically_normalize(input);
    lexically_normalize(base);
    if (base.empty()) {
        std::string_view common;
        for (size_t i = 0; i < context.inputs.size(); ++i) {
            const std::string_view folder = holding_folder(context.inputs[i]);
            if (folder.empty()) {
                TM_LOG(kFatal, "Could not find root for %s", escape_file_name(context.inputs[i]).c_str());
                exit_status = 132;
                return false;
            }
            common = i == 0 ? folder : common_folder(common, folder);
        }
        base = context.inputs.empty() ? "." : std::string(common);
        if (context.inputs.empty()) normalize_path(base);
    }
    if (base.empty() || base.back() != '/') base += '/';
    for (const std::string& input : context.inputs) {
        // The base itself is no input inside it: its trace tree would have no name.
        if (input.size() <= base.size() || input.compare(0, base.size(), base) != 0) {
            TM_LOG(kFatal, "Input %s lies outside the base folder %s", escape_file_name(input).c_str(),
                   escape_file_name(base).c_str());
            exit_status = 132;
            return false;
        }
    }
    for (std::string& input : context.inputs) input.erase(0, base.size());
    context.input_root = std::move(base);
    return true;
}

std::string_view file_extension(std::string_view path) {
    const size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    // A name without "." has no extension: a file called "MF4" is not a log file.
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool is_log_file(std::string_view path) {
    std::string_view extension = file_extension(path);
    if (extension.size() != 3) return false;
    char lower[3];
    for (size_t i = 0; i < 3; ++i) {
        const char c = extension[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (lower[0] != 'm' || lower[1] != 'f') return false;
    return lower[2] == '4' || lower[2] == 'c' || lower[2] == 'e' || lower[2] == 'm';
}

std::string_view parent_folder(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

}  // namespace tracemill
