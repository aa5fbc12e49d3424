// How each file relates to the one before it (repeat, continuation), decided
// in input order while the files themselves are converted on several threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "driver/file_info.h"

namespace tracemill {

// Files hold tickets 0, 1, 2 ... in input order. A file whose header was read
// relates itself to the last such file before it; every other file only lets
// the next one go. Each ticket takes its turn exactly once.
class RelationOrder {
public:
    // Waits for `ticket`'s turn, relates `info` to the last file read and
    // remembers it in its place.
    FileRelation relate(uint64_t ticket, const FileInfo& info);
    // Lets the next ticket go when `ticket` has not taken its turn (its header was never read).
    void pass(uint64_t ticket);

private:
    void wait_for_turn(std::unique_lock<std::mutex>& lock, uint64_t ticket);

    std::mutex mutex_;
    std::condition_variable turn_changed_;
    uint64_t next_ticket_ = 0;
    FileInfo previous_;
};

}  // namespace tracemill
