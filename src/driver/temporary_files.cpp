// The registry of temporary files and the interrupt handler that removes
// them. The handler only reads lock-free atomics and calls unlinkat, write
// (clearing a status line) and raise, which are async-signal-safe.
#include "driver/temporary_files.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "common/log.h"

namespace tracemill {
namespace {

// One slot per file converted at once (see kMaxJobs), with room to spare.
constexpr int kSlots = 2 * kMaxJobs;

struct Slot {
    std::atomic<bool> in_use{false};  // claimed by a writer
    std::atomic<bool> ready{false};   // folder and name complete: the handler may act
    int folder_fd = -1;
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free);

Slot slots[kSlots];

void on_interrupt(int signal_number) {
    for (Slot& slot : slots) {
        if (slot.ready.load(std::memory_order_acquire)) unlinkat(slot.folder_fd, slot.name, 0);
    }
    clear_log_status_line_in_signal_handler();
    // SA_RESETHAND restored the default action; it takes effect when this returns.
    raise(signal_number);
}

}  // namespace

int remember_temporary(int folder_fd, const char* name) {
    if (std::strlen(name) > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots[i];
        bool expected = false;
        if (!slot.in_use.compare_exchange_strong(expected, true)) continue;
        slot.folder_fd = folder_fd;
        std::strcpy(slot.name, name);
        slot.ready.store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void forget_temporary(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    slots[slot].ready.store(false, std::memory_order_release);
    slots[slot].in_use.store(false, std::memory_order_release);
}

void remove_temporaries_on_interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // Either signal arriving during the handler waits for it.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESETHAND;
    for (int signal_number : {SIGINT, SIGTERM}) {
        // A signal the caller chose to ignore (a background job) stays ignored.
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace tracemill
