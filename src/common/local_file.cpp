// Local files by path: open(2) flags that keep a FIFO from holding the run
// and a link from redirecting a report.
#include "common/local_file.h"

#include <fcntl.h>

namespace tracemill {

int open_local_file_for_reading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

int create_local_file_for_writing(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

std::FILE* open_local_stdio_file(const std::string& path, bool write) {
    return std::fopen(path.c_str(), write ? "wb" : "rb");
}

}  // namespace tracemill
