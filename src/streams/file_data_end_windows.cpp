// Where a file's data ends on Windows: its size, unless the file is marked
// sparse; then the end of the last range the file system has allocated.
#include <windows.h>
#include <winioctl.h>
#include <io.h>

#include "streams/file_stream.h"

namespace tracemill {

int64_t end_of_file_data(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    const int64_t size = (int64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0) return size;
    int64_t end = 0;
    FILE_ALLOCATED_RANGE_BUFFER query{};
    query.Length.QuadPart = size;
    for (;;) {
        FILE_ALLOCATED_RANGE_BUFFER ranges[64];
        DWORD returned = 0;
        const BOOL complete = DeviceIoControl(handle, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges,
                                              sizeof ranges, &returned, nullptr);
        if (!complete && GetLastError() != ERROR_MORE_DATA) return size;  // not told: all is data
        const DWORD count = returned / sizeof ranges[0];
        if (count == 0) break;
        const FILE_ALLOCATED_RANGE_BUFFER& last = ranges[count - 1];
        end = last.FileOffset.QuadPart + last.Length.QuadPart;
        if (complete) break;
        query.FileOffset.QuadPart = end;
        query.Length.QuadPart = size - end;
    }
    return end < size ? end : size;
}

}  // namespace tracemill
