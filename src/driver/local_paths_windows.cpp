// What a path on a Windows disk is, and the working folder, through the
// wide-character API. A file's identity is its volume's serial number and
// its file index, the pair Windows keeps unique while the file exists.
#include <windows.h>

#include "common/wide_text_windows.h"
#include "driver/local_file_identity_windows.h"
#include "driver/paths.h"

namespace tracemill {

std::optional<PathInfo> stat_local_path(const std::string& full_path) {
    std::wstring wide;
    if (!windows_path(full_path, wide)) return std::nullopt;
    // Opened for nothing but its attributes; folders need the backup flag to open at all.
    const HANDLE handle = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A path running through a file does not exist either.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY)
            return PathInfo{PathKind::Missing, 0, 0, 0};
        return std::nullopt;
    }
    const std::optional<LocalFileIdentity> identity = local_file_identity(handle);
    CloseHandle(handle);
    if (!identity) return std::nullopt;
    if (identity->directory) return PathInfo{PathKind::Directory, 0, identity->volume, identity->index};
    if (!identity->disk_file) return PathInfo{PathKind::Other, 0, 0, 0};
    return PathInfo{PathKind::File, identity->size, identity->volume, identity->index};
}

bool current_local_folder(std::string& folder) {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0) return false;
    std::wstring wide(length, L'\0');
    const DWORD written = GetCurrentDirectoryW(length, wide.data());
    if (written == 0 || written >= length) return false;
    wide.resize(written);
    if (!utf8_from_wide(wide, folder)) return false;
    for (char& c : folder)
        if (c == '\\') c = '/';
    return true;
}

void add_current_drive(std::string& path) {
    std::string folder;
    if (current_local_folder(folder) && folder.size() >= 2 && folder[1] == ':') path.insert(0, folder, 0, 2);
}

}  // namespace tracemill
