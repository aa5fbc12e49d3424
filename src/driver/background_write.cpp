// The writing thread sleeps on a condition variable between requests; both
// sides wake each other through it, once per buffer. (Not std::atomic::wait:
// where there is no futex, as with MinGW, GCC 12's version can miss a wake-up
// and leave both sides asleep.)
#include "driver/background_write.h"

#include <cerrno>
#include <system_error>

#include "driver/file_system_root.h"

namespace tracemill {

BackgroundWrite::~BackgroundWrite() {
    if (!thread_.joinable()) return;
    wait();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = kStopping;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundWrite::start(StagedFile& file, const char* bytes, size_t size) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            return false;  // out of threads: the caller writes in line
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        file_ = &file;
        bytes_ = bytes;
        size_ = size;
        state_ = kRequested;
    }
    changed_.notify_all();
    under_way_ = true;
    return true;
}

bool BackgroundWrite::wait() {
    if (!under_way_) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return state_ == kFinished; });
    state_ = kIdle;
    under_way_ = false;
    const bool ok = ok_;
    const int error = error_;
    lock.unlock();
    if (!ok) errno = error;
    return ok;
}

void BackgroundWrite::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return state_ == kRequested || state_ == kStopping; });
        if (state_ == kStopping) return;
        StagedFile* file = file_;
        const char* bytes = bytes_;
        const size_t size = size_;
        lock.unlock();
        const bool ok = file->write(bytes, size) == static_cast<int64_t>(size);
        const int error = ok ? 0 : errno;
        lock.lock();
        ok_ = ok;
        error_ = error;
        state_ = kFinished;
        changed_.notify_all();
    }
}

}  // namespace tracemill
