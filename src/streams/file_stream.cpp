// Standard I/O file streams with 64-bit positions, and open_file_stream.
#define _FILE_OFFSET_BITS 64  // 64-bit off_t for fseeko/ftello on 32-bit systems too

#include "streams/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/local_file.h"
#include "common/log.h"

namespace tracemill {

FileStream::~FileStream() {
    if (file_) std::fclose(file_);
}

int64_t FileStream::tell() {
    return static_cast<int64_t>(ftello(file_));
}

int64_t FileStream::seek(int64_t offset, int32_t whence) {
    // The field reader seeks before every field; most seeks land where we are.
    if (whence == kSeekSet && offset == position_) return offset;
    if (whence < kSeekSet || whence > kSeekEnd) return -1;
    const int result = fseeko(file_, static_cast<off_t>(offset), whence);
    if (result != 0) return result;
    position_ = static_cast<int64_t>(ftello(file_));
    return position_;
}

int32_t FileStream::close() {
    std::FILE* file = file_;
    file_ = nullptr;  // the handle is gone after fclose, even when it fails
    return file ? std::fclose(file) : 0;
}

int64_t FileReadStream::seek(int64_t offset, int32_t whence) {
    if (whence != kSeekEnd || data_end_ < 0) return FileStream::seek(offset, whence);
    int64_t target;
    if (__builtin_add_overflow(data_end_, offset, &target) || target < 0) return -1;
    return FileStream::seek(target, kSeekSet);
}

int64_t FileReadStream::read(void* dst, uint64_t count) {
    if (failed_) return -1;
    if (data_end_ >= 0) {
        if (position_ >= data_end_) return 0;
        count = std::min(count, static_cast<uint64_t>(data_end_ - position_));
    }
    const size_t got = std::fread(dst, 1, count, file_);
    position_ += static_cast<int64_t>(got);
    if (got < count && std::ferror(file_)) {
        // Bytes that did arrive are no help: what follows them is missing.
        const int error = errno;
        TM_LOG(kError, "Could not read file: %s", std::strerror(error));
        failed_ = true;
        return -1;
    }
    return static_cast<int64_t>(got);
}

FileWriteStream::FileWriteStream(std::FILE* file, std::unique_ptr<uint8_t[]> buffer)
    : FileStream(file), buffer_(std::move(buffer)) {
    // Our buffer already gathers the writes; a second one would only copy them again.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileWriteStream::~FileWriteStream() {
    if (file_) flush();  // a stream given up without close still keeps what it took
}

bool FileWriteStream::flush() {
    if (pending_ == 0) return true;
    const bool complete = std::fwrite(buffer_.get(), 1, pending_, file_) == pending_;
    pending_ = 0;
    if (!complete) failed_ = true;
    return complete;
}

int64_t FileWriteStream::write(const void* src, uint64_t count) {
    if (failed_) return 0;
    if (count <= kBufferSize - pending_) {
        std::memcpy(buffer_.get() + pending_, src, count);
        pending_ += count;
        position_ += static_cast<int64_t>(count);
        return static_cast<int64_t>(count);
    }
    if (!flush()) return 0;
    if (count >= kBufferSize) {
        const size_t put = std::fwrite(src, 1, count, file_);
        if (put != count) failed_ = true;
        position_ += static_cast<int64_t>(put);
        return static_cast<int64_t>(put);
    }
    std::memcpy(buffer_.get(), src, count);
    pending_ = count;
    position_ += static_cast<int64_t>(count);
    return static_cast<int64_t>(count);
}

int64_t FileWriteStream::tell() { return position_; }

int64_t FileWriteStream::seek(int64_t offset, int32_t whence) {
    if (whence == kSeekSet && offset == position_) return offset;
    if (!flush()) return -1;
    return FileStream::seek(offset, whence);
}

int32_t FileWriteStream::close() {
    const bool flushed = file_ ? flush() : true;
    const int32_t closed = FileStream::close();
    return flushed ? closed : EOF;
}

StreamPtr open_file_stream(std::string_view path, int32_t mode) {
    if (path.data() == nullptr) return nullptr;
    if (mode != kFileRead && mode != kFileWrite) return nullptr;
    const std::string zero_terminated(path);
    std::FILE* file = open_local_stdio_file(zero_terminated, mode == kFileWrite);
    if (!file) return nullptr;
    StreamPtr stream;
    if (mode == kFileRead) {
        stream.reset(new (std::nothrow) FileReadStream(file, end_of_file_data(fileno(file))));
    } else {
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[FileWriteStream::kBufferSize]);
        if (buffer) stream.reset(new (std::nothrow) FileWriteStream(file, std::move(buffer)));
    }
    if (!stream) std::fclose(file);
    return stream;
}

}  // namespace tracemill
