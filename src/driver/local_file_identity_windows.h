// What Windows tells of an open file: kind, identity, size and last change.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace tracemill {

struct LocalFileIdentity {
    bool directory = false;
    bool disk_file = false;      // a file on a disk: neither a folder nor a device or pipe
    bool reparse_point = false;  // a symbolic link or junction itself (opened without following it)
    uint64_t volume = 0;         // the volume's serial number
    uint64_t index = 0;          // the file's number on the volume
    uint64_t size = 0;
    uint32_t links = 0;          // names the file has
    int64_t modified_seconds = 0;      // since 1601, as the system counts
    int64_t modified_nanoseconds = 0;  // in steps of 100
};

std::optional<LocalFileIdentity> local_file_identity(HANDLE file);

}  // namespace tracemill
