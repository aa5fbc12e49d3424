// Local files by path through the wide-character API. Windows has no
// O_NOFOLLOW: a report path that is a symbolic link or junction (a reparse
// point) is refused before it is opened; a link put there between the look
// and the open would still be followed.
#include "common/local_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/wide_text_windows.h"

namespace tracemill {

int open_local_file_for_reading(const std::string& path) {
    std::wstring wide;
    if (!windows_path(path, wide)) {
        errno = EILSEQ;
        return -1;
    }
    return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int create_local_file_for_writing(const std::string& path) {
    std::wstring wide;
    if (!windows_path(path, wide)) {
        errno = EILSEQ;
        return -1;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        errno = ELOOP;
        return -1;
    }
    return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

std::FILE* open_local_stdio_file(const std::string& path, bool write) {
    std::wstring wide;
    if (!windows_path(path, wide)) {
        errno = EILSEQ;
        return nullptr;
    }
    return _wfopen(wide.c_str(), write ? L"wb" : L"rb");
}

}  // namespace tracemill
