// One write at a time on a thread of its own, so that the kernel's copy of a
// full output buffer into the file overlaps the filling of the next one. The
// caller hands over whole buffers, never records: nothing per record crosses
// threads, and the buffer handed over is not touched until wait() returns.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace tracemill {

class StagedFile;

class BackgroundWrite {
public:
    BackgroundWrite() = default;
    ~BackgroundWrite();  // waits for the write under way and ends the thread
    BackgroundWrite(const BackgroundWrite&) = delete;
    BackgroundWrite& operator=(const BackgroundWrite&) = delete;

    // Starts writing `size` bytes at `bytes` to the end of `file`; the write
    // before must have been waited for. False when no thread could be
    // started: nothing was written, and the caller writes the bytes itself.
    bool start(StagedFile& file, const char* bytes, size_t size);

    // Waits for the write under way, if any. True when every byte went in (or
    // nothing was under way); false with errno as the failed write left it.
    bool wait();

private:
    enum State : int { kIdle, kRequested, kFinished, kStopping };
    void serve();

    std::thread thread_;
    bool under_way_ = false;  // the caller's own: a request not yet waited for
    std::mutex mutex_;
    std::condition_variable changed_;  // of state_, either way
    // Guarded by mutex_: the state, the request and its result.
    State state_ = kIdle;
    StagedFile* file_ = nullptr;
    const char* bytes_ = nullptr;
    size_t size_ = 0;
    bool ok_ = true;
    int error_ = 0;
};

}  // namespace tracemill
