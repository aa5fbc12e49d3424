// The per-input output file: buffer, staged file created on first need,
// publish or discard at the end.
#include "driver/output_file.h"

#include <algorithm>
#include <new>

#include "common/log.h"
#include "common/log_escape.h"

namespace tracemill {

bool OutputBuffer::allocate(size_t size) {
    bytes_.reset(new (std::nothrow) char[size]);
    size_ = bytes_ ? size : 0;
    return bytes_ != nullptr;
}

OutputFile::OutputFile(FileSystemRoot& root, const OutputFileMessages& messages, bool durable)
    : root_(root), messages_(messages), durable_(durable), failed_(true) {}

OutputFile::~OutputFile() {
    background_.wait();
    if (staged_) staged_->discard();
}

bool OutputFile::begin(std::string path, uint32_t mode) {
    background_.wait();
    if (staged_) staged_->discard();  // an input whose output was never finished
    staged_.reset();
    pending_ = 0;
    durable_result_ = false;
    published_ = false;
    bytes_written_ = 0;
    path_ = std::move(path);
    mode_ = mode;
    failed_ = root_.published_paths().contains(path_);
    if (failed_) TM_LOG(kError, "Output file already written in this run: %s", escape_file_name(path_).c_str());
    return !failed_;
}

FileOutcome OutputFile::outcome(const PassedOverRecords& passed_over, const WrittenFrames& written) const {
    FileOutcome outcome{passed_over, {}, {}, 0, durable_result_};
    if (!published_) return outcome;
    outcome.written = written;
    outcome.output_path = path_;
    outcome.bytes_written = bytes_written_;
    return outcome;
}

char* OutputFile::make_room(size_t size) {
    if (failed_) return nullptr;
    // An empty buffer takes the piece where it can; a buffer with bytes in it
    // hands them on first (and may come back without memory, the spare's).
    if (pending_ > 0 && !flush(true)) return nullptr;
    if (size <= buffer_.size()) return buffer_.data();
    // Only a piece larger than the whole buffer needs more than its usual size.
    if (!buffer_.allocate(std::max(size, kBufferSize))) {
        TM_LOG(kError, "Out of memory while buffering output for %s", escape_file_name(path_).c_str());
        failed_ = true;
        return nullptr;
    }
    return buffer_.data();
}

bool OutputFile::settle() {
    if (background_.wait()) return true;
    failed_ = true;
    return false;
}

bool OutputFile::flush(bool in_background) {
    if (!staged_) {
        staged_ = root_.create_staged(path_, mode_);
        if (!staged_) {
            TM_LOG(kError, messages_.open_failed, escape_file_name(path_).c_str());
            failed_ = true;
            return false;
        }
    }
    // One buffer is written at a time, so the one handed over last must be done.
    if (!settle()) return false;
    if (pending_ > 0) {
        if (in_background && background_.start(*staged_, buffer_.data(), pending_)) {
            std::swap(buffer_, spare_);
        } else if (staged_->write(buffer_.data(), pending_) != static_cast<int64_t>(pending_)) {
            failed_ = true;
            return false;
        }
    }
    bytes_written_ += pending_;
    pending_ = 0;
    return true;
}

bool OutputFile::overwrite(uint64_t offset, const char* bytes, size_t size) {
    if (failed_ || offset > bytes_written_ + pending_ || size > bytes_written_ + pending_ - offset) return false;
    if (!settle()) return false;
    // The part already in the file is replaced there, the rest in the buffer.
    const uint64_t in_file = offset < bytes_written_ ? std::min<uint64_t>(size, bytes_written_ - offset) : 0;
    if (in_file > 0 && !staged_->write_at(offset, bytes, in_file)) {
        failed_ = true;
        return false;
    }
    if (in_file < size)
        std::memcpy(buffer_.data() + (offset + in_file - bytes_written_), bytes + in_file, size - in_file);
    return true;
}

bool OutputFile::finish(bool keep) {
    bool ok = true;
    bool published = false;
    // The last piece is written in line: handing it over would only add a wait.
    if (keep && !failed_) {
        if (!flush(false)) {
            // A file that could not be created has said so already.
            if (staged_) TM_LOG(kError, "%s", messages_.close_failed);
            ok = false;
        } else if (!staged_->commit(durable_)) {
            TM_LOG(kError, "%s", messages_.close_failed);
            ok = false;
        } else {
            published = true;
            root_.published_paths().insert(path_);
        }
    }
    // Whatever is not published goes; an earlier file of the same name stays as it was.
    background_.wait();
    if (!published && staged_ && !staged_->discard()) {
        TM_LOG(kError, "%s", messages_.remove_failed);
        ok = false;
    }
    // Durable: published and synced, or nothing was there to publish.
    durable_result_ = ok && (published ? durable_ : !keep && !failed_);
    published_ = published;
    staged_.reset();
    pending_ = 0;
    failed_ = true;
    return ok;
}

}  // namespace tracemill
