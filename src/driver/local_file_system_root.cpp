// Rooted access to the local disk: stat, list in byte order, remove, open;
// inputs are opened with their identity recorded and removed only while their
// name, reached without passing a link, still leads to that file; folders and
// output files go through the local output tree.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "driver/file_system_root.h"
#include "driver/local_output_tree.h"
#include "driver/paths.h"
#include "streams/file_stream.h"

namespace tracemill {

namespace {

// A descriptor closed with its owner.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Files and folders are listed; an entry that vanished since readdir saw it,
// or a link that leads nowhere or round in a circle, is passed over; any other
// failure to query an entry is kept with its reason.
FolderListing list_local_folder(const std::string& folder) {
    FolderListing listing;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        listing.error = errno;
        return listing;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            listing.error = errno;  // 0 at the end of the folder
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        struct stat st;
        FolderEntry listed{std::string(name), PathKind::Other, 0};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0) {
            if (errno == ENOENT || errno == ELOOP) continue;
            listed.error = errno;
        } else if (S_ISREG(st.st_mode)) {
            listed.kind = PathKind::File;
        } else if (S_ISDIR(st.st_mode)) {
            listed.kind = PathKind::Directory;
        } else {
            continue;
        }
        listing.entries.push_back(std::move(listed));
    }
    ::closedir(dir);
    // std::string compares bytes as unsigned values, shorter prefix first.
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return listing;
}

InputIdentity identity_of(const struct stat& st) {
    return InputIdentity{true,
                         static_cast<uint64_t>(st.st_dev),
                         static_cast<uint64_t>(st.st_ino),
                         static_cast<uint64_t>(st.st_size),
                         static_cast<int64_t>(st.st_mtim.tv_sec),
                         static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// Opens without blocking, so that a FIFO put in the file's place since the walk
// looked cannot hold the run, and reads regular files only (on which the
// non-blocking flag changes nothing, so it stays).
OpenedInput open_local_input(const std::string& path) {
    OpenedInput input;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return input;
    const int64_t data_end = end_of_file_data(fd.get());
    std::FILE* file = ::fdopen(fd.get(), "rb");
    if (file == nullptr) return input;
    fd.release();
    input.stream.reset(new (std::nothrow) FileReadStream(file, data_end));
    if (!input.stream) {
        std::fclose(file);
        return input;
    }
    input.identity = identity_of(st);
    return input;
}

// The folder holding `relative`, entered level by level from the root without
// following a link; none when a level cannot be entered, with `through_link`
// set when that level is a symbolic link.
FileDescriptor open_input_folder(const std::string& root, std::string_view relative, bool& through_link) {
    through_link = false;
    FileDescriptor folder(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    size_t start = 0;
    for (size_t slash = relative.find('/'); folder.get() >= 0 && slash != std::string_view::npos;
         start = slash + 1, slash = relative.find('/', start)) {
        if (slash == start) continue;
        const std::string level(relative.substr(start, slash - start));
        FileDescriptor next(::openat(folder.get(), level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (next.get() < 0 && ::fstatat(folder.get(), level.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            through_link = true;
        folder = std::move(next);
    }
    return folder;
}

bool same_file(const InputIdentity& identity, const struct stat& st) {
    return identity.device == static_cast<uint64_t>(st.st_dev) && identity.inode == static_cast<uint64_t>(st.st_ino);
}

bool unchanged(const InputIdentity& identity, const struct stat& st) {
    const InputIdentity now = identity_of(st);
    return identity.size == now.size && identity.modified_seconds == now.modified_seconds &&
           identity.modified_nanoseconds == now.modified_nanoseconds;
}

InputRemoval remove_local_input(const std::string& root, std::string_view relative, const InputIdentity& identity) {
    constexpr const char* kThroughLink = "it was reached through a symbolic link";
    if (!identity.known) return InputRemoval{RemovalOutcome::Kept, "its identity cannot be checked"};
    bool through_link = false;
    const FileDescriptor folder = open_input_folder(root, relative, through_link);
    if (through_link) return InputRemoval{RemovalOutcome::Kept, kThroughLink};
    if (folder.get() < 0) return InputRemoval{};
    const size_t slash = relative.rfind('/');
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    struct stat st;
    if (name.empty() || ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return InputRemoval{};
    if (S_ISLNK(st.st_mode)) return InputRemoval{RemovalOutcome::Kept, kThroughLink};
    if (!same_file(identity, st))
        return InputRemoval{RemovalOutcome::Kept, "another file took its name during the conversion"};
    if (!unchanged(identity, st)) return InputRemoval{RemovalOutcome::Kept, "it changed during the conversion"};
    if (::unlinkat(folder.get(), name.c_str(), 0) != 0) return InputRemoval{};
    return InputRemoval{RemovalOutcome::Removed, nullptr};
}

class LocalFileSystemRoot final : public FileSystemRoot {
public:
    explicit LocalFileSystemRoot(const std::string& root) : FileSystemRoot(root), output_tree_(root) {}

    std::optional<PathInfo> stat(std::string_view relative) override { return stat_local_path(full_path(relative)); }

    FolderListing list(std::string_view relative) override { return list_local_folder(full_path(relative)); }

    OpenedInput open_input(std::string_view relative) override { return open_local_input(full_path(relative)); }

    InputRemoval remove_input(std::string_view relative, const InputIdentity& identity) override {
        return remove_local_input(root(), relative, identity);
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
