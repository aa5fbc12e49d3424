#!/usr/bin/python3
# A read-only file system that serves one file whose reads fail with EIO from
# a chosen offset on, as a failing SD card does. Used by the read-failure
# end-to-end test: failing_reads_fs.py SOURCE MOUNTPOINT FAIL_OFFSET
# The file appears as MOUNTPOINT/<name of SOURCE> with SOURCE's size; reads
# wholly before FAIL_OFFSET deliver SOURCE's bytes, every other read fails.
import errno
import os
import stat
import sys

try:
    from fuse import FUSE, FuseOSError, Operations
except ImportError:  # Debian's name for the module
    from fusepy import FUSE, FuseOSError, Operations


class FailingReads(Operations):
    def __init__(self, source, fail_offset):
        self.name = "/" + os.path.basename(source)
        with open(source, "rb") as f:
            self.data = f.read()
        self.fail_offset = fail_offset

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path == self.name:
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": len(self.data)}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", self.name[1:]]

    def open(self, path, flags):
        if path != self.name:
            raise FuseOSError(errno.ENOENT)
        return 0

    def read(self, path, size, offset, fh):
        if offset + size > self.fail_offset and offset < len(self.data):
            raise FuseOSError(errno.EIO)
        return self.data[offset:offset + size]


if __name__ == "__main__":
    source, mountpoint, fail_offset = sys.argv[1], sys.argv[2], int(sys.argv[3])
    # direct_io: every read reaches read() with the caller's offset, unmerged
    # with page-cache read-ahead, so the failure starts where it was asked to.
    FUSE(FailingReads(source, fail_offset), mountpoint, foreground=True, ro=True, direct_io=True)
