// Rooted access to a Windows disk through the wide-character API: folder
// listings in byte order of the UTF-8 names, inputs opened with their
// identity (volume serial number and file index) recorded, and removed only
// while the name, reached without passing a symbolic link or junction, still
// leads to that file. The removal marks the file opened and checked for
// deletion by its handle, so it cannot hit a file put there after the check.
//
// Inputs are opened without sharing write access: a file another program is
// still writing is refused rather than read while it changes.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>

#include "common/system_error_windows.h"
#include "common/wide_text_windows.h"
#include "driver/file_system_root.h"
#include "driver/local_file_identity_windows.h"
#include "driver/local_output_tree.h"
#include "driver/paths.h"
#include "streams/file_stream.h"

namespace tracemill {
namespace {

// A handle closed with its owner.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Files and folders are listed; a link that leads nowhere is passed over; a
// name that cannot be queried, or has no UTF-8 form, is kept with its reason.
FolderListing list_local_folder(const std::string& folder) {
    FolderListing listing;
    std::wstring pattern;
    if (!windows_path(folder, pattern)) {
        listing.error = EILSEQ;
        return listing;
    }
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) listing.error = errno_from_windows(error);  // else: nothing inside
        return listing;
    }
    do {
        const std::wstring_view wide_name(found.cFileName);
        if (wide_name == L"." || wide_name == L"..") continue;
        FolderEntry entry;
        entry.kind = PathKind::Other;
        if (!utf8_from_wide(wide_name, entry.name)) {
            entry.name = "?";
            entry.error = EILSEQ;
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link is listed as what it leads to, as a folder walk follows it.
            const std::optional<PathInfo> target = stat_local_path(folder + "/" + entry.name);
            if (target && (target->kind == PathKind::Missing || target->kind == PathKind::Other)) continue;
            if (!target) entry.error = EACCES;
            else entry.kind = target->kind;
        } else {
            entry.kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory
                                                                                 : PathKind::File;
        }
        listing.entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) listing.error = errno_from_windows(error);
    FindClose(search);
    // std::string compares bytes as unsigned values, shorter prefix first.
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return listing;
}

InputIdentity identity_of(const LocalFileIdentity& file) {
    return InputIdentity{true, file.volume, file.index, file.size, file.modified_seconds, file.modified_nanoseconds};
}

OpenedInput open_local_input(const std::string& path) {
    OpenedInput input;
    std::wstring wide;
    if (!windows_path(path, wide)) return input;
    FileHandle handle(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.valid()) return input;
    const std::optional<LocalFileIdentity> identity = local_file_identity(handle.get());
    if (!identity || !identity->disk_file) return input;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) return input;
    handle.release();
    std::FILE* file = _fdopen(fd, "rb");
    if (file == nullptr) {
        _close(fd);
        return input;
    }
    input.stream.reset(new (std::nothrow) FileReadStream(file, end_of_file_data(fd)));
    if (!input.stream) {
        std::fclose(file);
        return input;
    }
    input.identity = identity_of(*identity);
    return input;
}

bool is_reparse_point(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// True when a folder between the root and the file's name is a link or junction.
bool reached_through_link(const std::string& root, std::string_view relative) {
    for (size_t slash = relative.find('/'); slash != std::string_view::npos; slash = relative.find('/', slash + 1)) {
        std::wstring level;
        if (slash == 0 || !windows_path(root + "/" + std::string(relative.substr(0, slash)), level)) continue;
        if (is_reparse_point(level)) return true;
    }
    return false;
}

InputRemoval remove_local_input(const std::string& root, std::string_view relative, const InputIdentity& identity) {
    constexpr const char* kThroughLink = "it was reached through a symbolic link";
    if (!identity.known) return InputRemoval{RemovalOutcome::Kept, "its identity cannot be checked"};
    if (reached_through_link(root, relative)) return InputRemoval{RemovalOutcome::Kept, kThroughLink};
    std::wstring wide;
    if (!windows_path(root.empty() ? std::string(relative) : root + "/" + std::string(relative), wide))
        return InputRemoval{};
    // The name itself, not what a link there leads to.
    FileHandle handle(CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return InputRemoval{};
    const std::optional<LocalFileIdentity> now = local_file_identity(handle.get());
    if (!now) return InputRemoval{};
    if (now->reparse_point) return InputRemoval{RemovalOutcome::Kept, kThroughLink};
    if (now->volume != identity.device || now->index != identity.inode)
        return InputRemoval{RemovalOutcome::Kept, "another file took its name during the conversion"};
    if (now->size != identity.size || now->modified_seconds != identity.modified_seconds ||
        now->modified_nanoseconds != identity.modified_nanoseconds)
        return InputRemoval{RemovalOutcome::Kept, "it changed during the conversion"};
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return InputRemoval{};
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

    bool remove(std::string_view relative) override {
        std::wstring wide;
        return windows_path(full_path(relative), wide) && DeleteFileW(wide.c_str());
    }

    StreamPtr open(std::string_view relative, int32_t flags) override {
        const bool read = (flags & OPEN_READ) != 0;
        const bool write = (flags & OPEN_WRITE) != 0;
        if (read == write) return nullptr;
        return open_file_stream(full_path(relative), read ? kFileRead : kFileWrite);
    }

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
