// What a path on the local disk is, and the working folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "driver/paths.h"

namespace tracemill {

std::optional<PathInfo> stat_local_path(const std::string& full_path) {
    struct stat st;
    if (::stat(full_path.c_str(), &st) != 0) {
        // A path running through a file does not exist either.
        if (errno == ENOENT || errno == ENOTDIR) return PathInfo{PathKind::Missing, 0, 0, 0};
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode))
        return PathInfo{PathKind::File, static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_dev),
                        static_cast<uint64_t>(st.st_ino)};
    if (S_ISDIR(st.st_mode))
        return PathInfo{PathKind::Directory, 0, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return PathInfo{PathKind::Other, 0, 0, 0};
}

bool current_local_folder(std::string& folder) {
    char cwd[2048];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    folder = cwd;
    return true;
}

void add_current_drive(std::string&) {}  // one tree, no drives

}  // namespace tracemill
