// File identity from GetFileInformationByHandle.
#include "driver/local_file_identity_windows.h"

namespace tracemill {

std::optional<LocalFileIdentity> local_file_identity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    LocalFileIdentity identity;
    identity.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.disk_file = !identity.directory && GetFileType(file) == FILE_TYPE_DISK;
    identity.reparse_point = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.links = info.nNumberOfLinks;
    const uint64_t ticks = (uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
    identity.modified_seconds = static_cast<int64_t>(ticks / 10'000'000);
    identity.modified_nanoseconds = static_cast<int64_t>(ticks % 10'000'000) * 100;
    return identity;
}

}  // namespace tracemill
