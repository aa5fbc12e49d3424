// The life of the one output file an input gets, shared by every output format:
//   - named when the input starts, created only when its first bytes leave
//     the buffer or when it is published, so an input without output leaves
//     no file and an earlier file of that name untouched;
//   - never over a path this run has already kept (two inputs a.mf4 and
//     a.MF4 share an output name: the later one fails);
//   - written under a temporary name and published whole by a rename, or
//     discarded whole.
// The format decides what goes in (its header before its first record).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/hash_map.h"
#include "driver/background_write.h"
#include "driver/file_system_root.h"
#include "driver/output_sink.h"

namespace tracemill {

// The format's texts for failures of its file; open_failed takes the path.
struct OutputFileMessages {
    const char* open_failed;
    const char* close_failed;
    const char* remove_failed;
};

// Bytes of output on their way to the file, allocated when first needed and
// never zeroed: a worker that writes nothing costs no memory, and a buffer's
// pages are only brought in as they are filled.
class OutputBuffer {
public:
    char* data() { return bytes_.get(); }
    size_t size() const { return size_; }
    // Replaces the contents with at least `size` uninitialised bytes; false when out of memory.
    bool allocate(size_t size);

private:
    std::unique_ptr<char[]> bytes_;
    size_t size_ = 0;
};

class OutputFile {
public:
    // Output is collected in pieces of this size before it goes to the file.
    static constexpr size_t kBufferSize = 1024 * 1024;

    // `durable`: sync each published file and its folder.
    OutputFile(FileSystemRoot& root, const OutputFileMessages& messages, bool durable);
    ~OutputFile();  // an unfinished file is discarded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts the output of an input at `path` with permissions `mode`
    // (kSharedFileMode, kPrivateFileMode). False (logged) when this run kept a file there.
    bool begin(std::string path, uint32_t mode);

    // Room for `size` bytes at the end of the output, for the caller to fill
    // and then count with added(); null when the output has failed. May store
    // the buffered bytes into the file first.
    char* room(size_t size) {
        if (size <= buffer_.size() - pending_ && !failed_) return buffer_.data() + pending_;
        return make_room(size);
    }
    void added(size_t size) { pending_ += size; }
    bool write(const char* bytes, size_t size) {
        char* out = room(size);
        if (out == nullptr) return false;
        std::memcpy(out, bytes, size);
        added(size);
        return true;
    }

    // Replaces `size` bytes at `offset` of the output written so far, in the
    // buffer or in the file: for a header completed when the rest is written.
    // False when the output has failed or the range lies beyond its end.
    bool overwrite(uint64_t offset, const char* bytes, size_t size);

    // Ends the input's output: published when `keep` and nothing failed,
    // otherwise discarded. False (logged) when publishing or discarding failed.
    bool finish(bool keep);
    // The sink's outcome for the last finished output: the records it passed
    // over, whether it is durable (or there was nothing to publish), and,
    // only when the output was published, its path, size and what it holds.
    FileOutcome outcome(const PassedOverRecords& passed_over, const WrittenFrames& written) const;

private:
    char* make_room(size_t size);
    // Creates the staged file when there is none yet and hands it the buffer:
    // to the background write, which takes it while the other buffer fills,
    // or written in line. Either way the bytes count as written.
    bool flush(bool in_background);
    // Waits for the background write; false (the output failed) when it failed.
    bool settle();

    FileSystemRoot& root_;
    OutputFileMessages messages_;
    bool durable_;
    std::string path_;
    uint32_t mode_ = kSharedFileMode;
    std::unique_ptr<StagedFile> staged_;  // created on first need
    OutputBuffer buffer_;  // being filled
    OutputBuffer spare_;   // being written in the background, or free
    size_t pending_ = 0;
    bool failed_ = false;        // the output of this input is lost
    bool durable_result_ = false;
    bool published_ = false;
    uint64_t bytes_written_ = 0;  // into the staged file, the background write's included
    BackgroundWrite background_;  // last: it ends before the buffers and the file go
};

}  // namespace tracemill
