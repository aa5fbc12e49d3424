// Streams on files opened with the standard I/O library.
//
// A file is opened either for reading or for writing, never both: a reading
// stream has no write and a writing stream has no read (both answer -2).
// Positions are 64-bit, so files of 2 GiB and more work. The position is
// cached, which lets the field reader's seek-before-every-field cost nothing
// when the file is already there.
//
// A writing stream collects small writes (a trace file is written one line at
// a time) in a buffer of its own and hands them to the file in large pieces:
// a standard I/O call per line costs more than formatting the line. A failed
// piece fails the write that needed the room, or the close.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "streams/byte_stream.h"

namespace tracemill {

class FileStream : public ByteStream {
public:
    explicit FileStream(std::FILE* file) : file_(file) {}
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    int64_t tell() override;
    int64_t seek(int64_t offset, int32_t whence) override;
    // Closes the handle; non-zero when the standard I/O library reports a failure.
    int32_t close() override;

protected:
    std::FILE* file_;
    int64_t position_ = 0;  // advanced by reads and writes, refreshed after real seeks
};

// A read that the system fails (an I/O error of the device) fails, and so
// does every later read: the position of the file is no longer known.
//
// A sparse file ends, for its readers, where its last extent of data ends: a
// hole behind it holds no data, only zeros the system makes up, and a
// crafted file of a few KB with a hole to 4 GiB would otherwise be read, and
// held in a whole-file window, as 4 GiB. Reads stop there, and the size a
// seek to the end reports is that end.
class FileReadStream final : public FileStream {
public:
    // `data_end`: where the file's data ends; negative when it is not known.
    FileReadStream(std::FILE* file, int64_t data_end) : FileStream(file), data_end_(data_end) {}
    int64_t read(void* dst, uint64_t count) override;
    int64_t seek(int64_t offset, int32_t whence) override;

    int descriptor() const { return ::fileno(file_); }
    int64_t data_end() const { return data_end_; }

private:
    int64_t data_end_;
    bool failed_ = false;  // a read failed; logged once
};

// The end of the last extent of data of the open regular file `fd`: its size
// unless it ends in a hole; negative when the system cannot tell. Leaves the
// file position at 0.
int64_t end_of_file_data(int fd);

class FileWriteStream final : public FileStream {
public:
    // Bytes collected before they go to the file.
    static constexpr size_t kBufferSize = 64 * 1024;

    explicit FileWriteStream(std::FILE* file, std::unique_ptr<uint8_t[]> buffer);
    ~FileWriteStream() override;

    int64_t write(const void* src, uint64_t count) override;
    int64_t tell() override;
    int64_t seek(int64_t offset, int32_t whence) override;
    int32_t close() override;

private:
    // Hands the collected bytes to the file; false when not all were taken.
    bool flush();

    std::unique_ptr<uint8_t[]> buffer_;  // kBufferSize bytes
    size_t pending_ = 0;                 // collected bytes not yet in the file
    bool failed_ = false;                // a piece could not be written: the file is incomplete
};

}  // namespace tracemill
