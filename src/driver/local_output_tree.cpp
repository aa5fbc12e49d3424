// Output files on the local disk, published whole and never through a link.
//
// A trace is written to ".<name>.<pid>-<n>.tmp" in its final folder, created
// exclusively with O_NOFOLLOW relative to the folder's descriptor, and renamed
// onto its name when complete. Renaming replaces the directory entry: a hard
// link someone planted at the name keeps its old content, and no data is ever
// written through the name itself. Folders are entered part by part with
// O_NOFOLLOW, so a link planted at an output folder name stops the file.
#include "driver/local_output_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/output_folder_parts.h"
#include "driver/temporary_files.h"

namespace tracemill {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kTemporaryFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
// Names taken by stale temporaries (another process, a killed run) are skipped.
constexpr int kTemporaryAttempts = 100;

void log_os_error(const char* what, const std::string& path, int error) {
    TM_LOG(kError, "%s %s: %s", what, escape_file_name(path).c_str(), std::strerror(error));
}

// ".<name>.<pid>-<n>.tmp": hidden, not a log file name, within NAME_MAX.
std::string temporary_name(std::string_view name, unsigned number) {
    constexpr size_t kRoomForSuffix = 40;
    std::string temporary = ".";
    temporary.append(name.substr(0, NAME_MAX - kRoomForSuffix));
    temporary += '.';
    temporary += std::to_string(static_cast<long>(getpid()));
    temporary += '-';
    temporary += std::to_string(number);
    temporary += ".tmp";
    return temporary;
}

class LocalStagedFile final : public StagedFile {
public:
    LocalStagedFile(int folder_fd, int fd, int slot, std::string temporary, std::string name, std::string path)
        : folder_fd_(folder_fd), fd_(fd), temporary_(std::move(temporary)), name_(std::move(name)),
          path_(std::move(path)), slot_(slot) {}
    ~LocalStagedFile() override {
        discard();
        close(folder_fd_);
    }

    int64_t write(const void* src, uint64_t count) override {
        const auto* bytes = static_cast<const char*>(src);
        uint64_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;
            done += static_cast<uint64_t>(n);
        }
        return static_cast<int64_t>(done);
    }

    bool write_at(uint64_t offset, const void* src, uint64_t count) override {
        const auto* bytes = static_cast<const char*>(src);
        uint64_t done = 0;
        while (done < count) {
            const ssize_t n = ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<uint64_t>(n);
        }
        return true;
    }

    bool commit(bool durable) override {
        if (durable && fsync(fd_) != 0) {
            log_os_error("Could not sync", path_, errno);
            discard();
            return false;
        }
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            log_os_error("Could not close", path_, errno);
            discard();
            return false;
        }
        if (renameat(folder_fd_, temporary_.c_str(), folder_fd_, name_.c_str()) != 0) {
            log_os_error("Could not move the finished file to", path_, errno);
            discard();
            return false;
        }
        finished_ = true;
        forget_temporary(slot_);
        slot_ = -1;
        // The rename is lasting only once the folder is on disk too.
        if (durable && fsync(folder_fd_) != 0) {
            log_os_error("Could not sync the folder of", path_, errno);
            return false;
        }
        return true;
    }

    bool discard() override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        if (finished_) return true;
        finished_ = true;  // nothing left to remove, whatever happens below
        const bool removed = unlinkat(folder_fd_, temporary_.c_str(), 0) == 0 || errno == ENOENT;
        forget_temporary(slot_);
        slot_ = -1;
        return removed;
    }

private:
    int folder_fd_;
    int fd_;
    std::string temporary_;
    std::string name_;
    std::string path_;  // relative to the root, for messages
    int slot_;                // in the interrupt registry, -1 when not there
    bool finished_ = false;   // renamed into place, or removed: the temporary is gone
};

}  // namespace

LocalOutputTree::~LocalOutputTree() {
    if (root_fd_ >= 0) close(root_fd_);
}

int LocalOutputTree::root_fd() {
    std::lock_guard<std::mutex> lock(root_fd_mutex_);
    if (root_fd_ < 0) root_fd_ = open(root_.empty() ? "/" : root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return root_fd_;
}

int LocalOutputTree::open_folder(std::string_view folder, bool create, bool report) {
    const int root = root_fd();
    if (root < 0) {
        if (report) log_os_error("Could not open output folder", root_, errno);
        return -1;
    }
    std::vector<FolderPart> parts;
    if (!output_folder_parts(folder, report, parts)) return -1;
    int fd = dup(root);
    if (fd < 0) return -1;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    for (const auto& [part, so_far] : parts) {
        int next = openat(fd, part.c_str(), kFolderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, part.c_str(), 0777) == 0) {
                // A synced file is only lasting if the folders leading to it are.
                fsync(fd);
            } else if (errno != EEXIST) {
                if (report) log_os_error("Could not create output folder", so_far, errno);
                close(fd);
                return -1;
            }
            next = openat(fd, part.c_str(), kFolderFlags);
        }
        if (next < 0 && !report) {
            close(fd);
            return -1;
        }
        if (next < 0) {
            if (errno == ELOOP || errno == ENOTDIR) {
                TM_LOG(kError, "Output folder %s is a symbolic link or not a folder", escape_file_name(so_far).c_str());
            } else {
                log_os_error("Could not open output folder", so_far, errno);
            }
            close(fd);
            return -1;
        }
        close(fd);
        fd = next;
    }
    return fd;
}

bool LocalOutputTree::make_dir(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    const std::string_view parent = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    if (name.empty() || name == "." || name == "..") return false;
    // Quiet: the file that needs the folder reports what stands in its way.
    const int fd = open_folder(parent, false, false);
    if (fd < 0) return false;
    const bool made = mkdirat(fd, name.c_str(), 0777) == 0;
    // New folders are synced into their parent once, so that traces synced into them last.
    if (made) fsync(fd);
    close(fd);
    return made;
}

std::unique_ptr<StagedFile> LocalOutputTree::create_staged(std::string_view relative, uint32_t mode) {
    const size_t slash = relative.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    const std::string path(relative);
    if (name.empty() || name == "." || name == "..") return nullptr;
    const int folder_fd = open_folder(folder, true, true);
    if (folder_fd < 0) return nullptr;

    // Only a regular file of one name is ever replaced: a link, a folder, or a
    // file that also lives under another name (perhaps outside the output
    // tree, where someone may rely on it) stays as it is.
    struct stat existing {};
    if (fstatat(folder_fd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        const char* refusal = !S_ISREG(existing.st_mode) ? "Output path %s is a symbolic link or not a regular file"
                              : existing.st_nlink > 1   ? "Output path %s has further hard links; it is left as it is"
                                                        : nullptr;
        if (refusal != nullptr) {
            TM_LOG(kError, refusal, escape_file_name(path).c_str());
            close(folder_fd);
            return nullptr;
        }
    }
    for (unsigned attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        std::string temporary = temporary_name(name, temporaries_made_.fetch_add(1) + 1);
        int slot = -1;
        const int fd = open_remembered_temporary(folder_fd, temporary.c_str(), kTemporaryFlags, mode, &slot);
        if (fd >= 0) {
            auto staged = std::unique_ptr<StagedFile>(
                new (std::nothrow) LocalStagedFile(folder_fd, fd, slot, temporary, name, path));
            if (!staged) {
                unlinkat(folder_fd, temporary.c_str(), 0);
                forget_temporary(slot);
                close(fd);
                close(folder_fd);
            }
            return staged;
        }
        if (errno != EEXIST) {
            log_os_error("Could not create a temporary file for", path, errno);
            break;
        }
    }
    close(folder_fd);
    return nullptr;
}

}  // namespace tracemill
