// Where a file's data ends: the last extent the file system holds data for.
#define _FILE_OFFSET_BITS 64

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "streams/file_stream.h"

namespace tracemill {

int64_t end_of_file_data(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    // Blocks for every byte: no hole anywhere (the case of nearly every file).
    if (status.st_blocks * 512 >= status.st_size) return status.st_size;
    off_t end = 0;
    for (off_t at = 0; at < status.st_size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // no data at or after `at`
            end = status.st_size;       // holes are not reported here: all is data
            break;
        }
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) {
            end = status.st_size;
            break;
        }
        end = hole;
        at = hole;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) return -1;
    return end;
}

}  // namespace tracemill
