// Rooted access to the local disk: stat, list in byte order, remove, open;
// folders and output files through the local output tree.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "driver/file_system_root.h"
#include "driver/local_output_tree.h"
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
    explicit LocalFileSystemRoot(const std::string& root) : FileSystemRoot(root), output_tree_(root) {}

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

    bool remove(std::string_view relative) override { return ::unlink(full_path(relative).c_str()) == 0; }

    StreamPtr open(std::string_view relative, int32_t flags) override {
        const bool read = (flags & OPEN_READ) != 0;
        const bool write = (flags & OPEN_WRITE) != 0;
        if (read == write) return nullptr;
        return open_file_stream(full_path(relative), read ? kFileRead : kFileWrite);
    }

    // ---- Write side: folders and staged output files, by descriptor ----
    bool make_dir(std::string_view relative) override { return output_tree_.make_dir(relative); }
    std::unique_ptr<StagedFile> create_staged(std::string_view relative, uint32_t mode) override {
        return output_tree_.create_staged(relative, mode);
    }

private:
    LocalOutputTree output_tree_;
};

}  // namespace

std::unique_ptr<FileSystemRoot> local_root_new(std::string path) {
    auto root = std::make_unique<LocalFileSystemRoot>(std::move(path));
    std::optional<PathInfo> info = root->stat("");
    if (!info || info->kind != PathKind::Directory) return nullptr;
    return root;
}

}  // namespace tracemill
