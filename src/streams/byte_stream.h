// The byte stream through which every byte of the system is read or written.
//
// A stream kind overrides the operations it has; an operation it lacks keeps
// the base-class answer -2 ("absent"), which callers rely on (a read-only file
// stream cannot write, a checksum stream cannot seek). Streams stack: a
// wrapper either owns its inner stream (closing it closes the inner one) or
// borrows it. Destroying a stream releases what it holds just as close does,
// so a StreamPtr going out of scope is enough; close is called explicitly
// only where its result matters (a file written, an input finished).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace tracemill {

class PageMemory;

inline constexpr int64_t kStreamAbsent = -2;

enum SeekWhence : int32_t { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Bytes delivered, 0 at end of data, negative on error.
    virtual int64_t read(void* /*dst*/, uint64_t /*count*/) { return kStreamAbsent; }
    // Bytes accepted, negative on error.
    virtual int64_t write(const void* /*src*/, uint64_t /*count*/) { return kStreamAbsent; }
    virtual int64_t tell() { return kStreamAbsent; }
    // The new position, negative on failure.
    virtual int64_t seek(int64_t /*offset*/, int32_t /*whence*/) { return kStreamAbsent; }
    // Up to `count` bytes at `offset`, as a seek there and reads until the
    // count or the end of the data would give: the bytes read, or -1 when the
    // seek or a read failed. The position is left behind the bytes read. A
    // stream holding the bytes in memory answers without the two calls.
    virtual int64_t read_at(uint64_t offset, void* dst, uint64_t count);
    // Releases what the stream holds; 0 on success. The object is destroyed by
    // stream_close whatever the result.
    virtual int32_t close() { return 0; }
    // The whole content as one run of bytes in memory, for the streams that
    // hold it so (memory streams, read windows as large as their file), valid
    // while the stream lives and is not written to; none for the others.
    // Readers of such a stream take records by pointer instead of a seek and
    // a read per field.
    virtual const uint8_t* contents(uint64_t& /*size*/) { return nullptr; }
    // Hands the memory that holds the whole content over to the caller, for
    // the streams that lend it through contents(): `size` bytes of content,
    // zeros beyond them. A layer that rewrites content in place (decryption)
    // then needs no second copy of the file. The stream is left without
    // content: reads deliver none, and only closing it still matters. False,
    // and nothing changed, for the others.
    virtual bool release_contents(PageMemory& /*area*/, uint64_t& /*size*/) { return false; }
};

using StreamPtr = std::unique_ptr<ByteStream>;

// Dispatch functions: callers use these, never the members directly.
inline int64_t stream_read(ByteStream* s, void* dst, uint64_t n) { return s ? s->read(dst, n) : kStreamAbsent; }
inline int64_t stream_write(ByteStream* s, const void* src, uint64_t n) { return s ? s->write(src, n) : kStreamAbsent; }
inline int64_t stream_tell(ByteStream* s) { return s ? s->tell() : kStreamAbsent; }
inline int64_t stream_seek(ByteStream* s, int64_t offset, int32_t whence) { return s ? s->seek(offset, whence) : kStreamAbsent; }
inline int64_t stream_read_at(ByteStream* s, uint64_t offset, void* dst, uint64_t n) {
    return s ? s->read_at(offset, dst, n) : kStreamAbsent;
}
inline const uint8_t* stream_contents(ByteStream* s, uint64_t& size) { return s ? s->contents(size) : nullptr; }
inline bool stream_release_contents(ByteStream* s, PageMemory& area, uint64_t& size) {
    return s && s->release_contents(area, size);
}

// Reads until `count` bytes have arrived or the data ends: the bytes read
// (fewer than `count` only at the end of the data), or -1 when a read failed,
// even after some bytes arrived. A failed read is never the end of the data.
int64_t stream_read_fully(ByteStream* stream, void* dst, uint64_t count);

// Closes and destroys the stream; a null stream closes successfully (0).
int32_t stream_close(StreamPtr stream);

// Total size, leaving the position unchanged: -1 for a null stream, -2 without tell.
int64_t stream_size(ByteStream* stream);

// Files: mode 0 reads ("rb"), mode 1 writes ("wb"); none on failure.
enum FileMode : int32_t { kFileRead = 0, kFileWrite = 1 };
StreamPtr open_file_stream(std::string_view path, int32_t mode);

// A read-only window of `capacity` bytes (rounded up to a multiple of 8) on an
// inner stream. The owning form closes the inner stream on close.
StreamPtr open_buffered_stream(StreamPtr inner, uint64_t capacity);
StreamPtr open_buffered_stream_borrowed(ByteStream* inner, uint64_t capacity);

// A view on [start, end) of a borrowed inner stream; end <= 0 runs to its end.
StreamPtr range_stream_new(ByteStream* inner, int64_t start, int64_t end);

}  // namespace tracemill
