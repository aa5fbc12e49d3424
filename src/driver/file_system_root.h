// Rooted file-system access: every path is relative to the root folder.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "streams/byte_stream.h"

namespace tracemill {

enum class PathKind : int32_t { Other = 0, File = 1, Directory = 2, Missing = 3 };

struct PathInfo {
    PathKind kind = PathKind::Missing;
    uint64_t size = 0;  // regular files only
    // Identity of a folder, so a walk can notice a folder it is already inside;
    // both 0 when the root kind cannot tell.
    uint64_t device = 0;
    uint64_t inode = 0;
};

inline constexpr int32_t OPEN_READ = 1;
inline constexpr int32_t OPEN_WRITE = 2;

// The base answers every operation with failure; the local kind overrides them.
class FileSystemRoot {
public:
    explicit FileSystemRoot(std::string root) : root_(std::move(root)) {}
    virtual ~FileSystemRoot() = default;

    const std::string& root() const { return root_; }
    // root, then "/" when both parts are non-empty, then the relative path.
    std::string full_path(std::string_view relative) const;

    virtual std::optional<PathInfo> stat(std::string_view /*relative*/) { return std::nullopt; }
    // Names of the files and folders inside, in ascending byte order.
    virtual std::vector<std::string> list(std::string_view /*relative*/) { return {}; }
    virtual bool make_dir(std::string_view /*relative*/) { return false; }
    virtual bool remove(std::string_view /*relative*/) { return false; }
    virtual StreamPtr open(std::string_view /*relative*/, int32_t /*flags*/) { return nullptr; }

private:
    std::string root_;
};

// The local disk; none unless `path` is an existing folder.
std::unique_ptr<FileSystemRoot> local_root_new(std::string path);

}  // namespace tracemill
