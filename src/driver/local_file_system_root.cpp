// Rooted access to the local disk: stat, list in byte order, make_dir, remove, open.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "driver/file_system_root.h"
#include "driver/paths.h"

namespace tracemill {

std::string FileSystemRoot::full_path(std::string_view relative) const {
    std::string full = root_;
    if (!full.empty() && !relative.empty()) full += '/';
    full.append(relative);
    return full;
}

namespace {

class LocalFileSystemRoot final : public FileSystemRoot {
public:
    using FileSystemRoot::FileSystemRoot;

    std::optional<PathInfo> stat(std::string_view relative) override { return stat_local_path(full_path(relative)); }

    // Only files and folders are listed; entries that vanish or are neither are dropped.
    std::vector<std::string> list(std::string_view relative) override {
        std::vector<std::string> names;
        const std::string folder = full_path(relative);
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) return names;
        while (const dirent* entry = readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..") continue;
            std::optional<PathInfo> info = stat_local_path(folder + "/" + entry->d_name);
            if (info && (info->kind == PathKind::File || info->kind == PathKind::Directory))
                names.emplace_back(name);
        }
        closedir(dir);
        // std::string compares bytes as unsigned values, shorter prefix first.
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        return names;
    }

    bool make_dir(std::string_view relative) override { return ::mkdir(full_path(relative).c_str(), 0777) == 0; }

    bool remove(std::string_view relative) override { return ::unlink(full_path(relative).c_str()) == 0; }

    StreamPtr open(std::string_view relative, int32_t flags) override {
        const bool read = (flags & OPEN_READ) != 0;
        const bool write = (flags & OPEN_WRITE) != 0;
        if (read == write) return nullptr;
        return open_file_stream(full_path(relative), read ? kFileRead : kFileWrite);
    }
};

}  // namespace

std::unique_ptr<FileSystemRoot> local_root_new(std::string path) {
    auto root = std::make_unique<LocalFileSystemRoot>(std::move(path));
    std::optional<PathInfo> info = root->stat("");
    if (!info || info->kind != PathKind::Directory) return nullptr;
    return root;
}

}  // namespace tracemill
