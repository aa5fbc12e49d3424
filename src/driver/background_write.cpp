// The writing thread sleeps on the state word between requests; both sides
// wake each other through it, so a handover costs one wake-up each way.
#include "driver/background_write.h"

#include <cerrno>
#include <system_error>

#include "driver/file_system_root.h"

namespace tracemill {

BackgroundWrite::~BackgroundWrite() {
    if (!thread_.joinable()) return;
    wait();
    state_.store(kStopping, std::memory_order_release);
    state_.notify_all();
    thread_.join();
}

bool BackgroundWrite::start(StagedFile& file, const char* bytes, size_t size) {
    if (under_way_) return false;  // the caller waits first; never reached
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { serve(); });
        } catch (const std::system_error&) {
            return false;  // out of threads: the caller writes in line
        }
    }
    file_ = &file;
    bytes_ = bytes;
    size_ = size;
    under_way_ = true;
    state_.store(kRequested, std::memory_order_release);
    state_.notify_all();
    return true;
}

bool BackgroundWrite::wait() {
    if (!under_way_) return true;
    for (int state = state_.load(std::memory_order_acquire); state != kFinished;
         state = state_.load(std::memory_order_acquire))
        state_.wait(state, std::memory_order_acquire);
    state_.store(kIdle, std::memory_order_relaxed);
    under_way_ = false;
    if (!ok_) errno = error_;
    return ok_;
}

void BackgroundWrite::serve() {
    for (;;) {
        const int state = state_.load(std::memory_order_acquire);
        if (state == kStopping) return;
        if (state != kRequested) {
            state_.wait(state, std::memory_order_acquire);
            continue;
        }
        ok_ = file_->write(bytes_, size_) == static_cast<int64_t>(size_);
        error_ = ok_ ? 0 : errno;
        state_.store(kFinished, std::memory_order_release);
        state_.notify_all();
    }
}

}  // namespace tracemill
