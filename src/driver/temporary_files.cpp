// The registry of temporary files and the interrupt handler that removes
// them. The handler only uses lock-free atomics and calls nanosleep, unlinkat,
// write (clearing a status line) and raise, which are async-signal-safe.
//
// Other threads go on converting while the handler runs, so a file could be
// created just after the handler looked at its slot. Creation therefore runs
// with the interrupts blocked on its thread and counted in `creating`: the
// handler first raises `interrupted`, which stops new creations, then waits
// until the ones under way are registered, and only then removes them all.
#include "driver/temporary_files.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
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
std::atomic<bool> interrupted{false};
std::atomic<int> creating{0};  // creations under way
static_assert(std::atomic<int>::is_always_lock_free);

void on_interrupt(int signal_number) {
    interrupted.store(true);
    // A creation never runs on this thread (its interrupts are blocked), so this ends.
    while (creating.load() != 0) {
        const timespec nap{0, 100'000};
        nanosleep(&nap, nullptr);
    }
    for (Slot& slot : slots) {
        if (slot.ready.load(std::memory_order_acquire)) unlinkat(slot.folder_fd, slot.name, 0);
    }
    clear_log_status_line_in_signal_handler();
    // SA_RESETHAND restored the default action; it takes effect when this returns.
    raise(signal_number);
}

}  // namespace

namespace {

int claim_slot(int folder_fd, const char* name) {
    if (std::strlen(name) > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots[i];
        bool expected = false;
        if (!slot.in_use.compare_exchange_strong(expected, true)) continue;
        slot.folder_fd = folder_fd;
        std::strcpy(slot.name, name);
        return i;
    }
    return -1;
}

}  // namespace

int open_remembered_temporary(int folder_fd, const char* name, int flags, unsigned mode, int* slot) {
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    creating.fetch_add(1);
    if (interrupted.load()) {
        // The handler runs on another thread and ends the process.
        creating.fetch_sub(1);
        for (;;) pause();
    }
    *slot = claim_slot(folder_fd, name);
    const int fd = openat(folder_fd, name, flags, static_cast<mode_t>(mode));
    const int error = errno;
    if (*slot >= 0) {
        // Only a file this run created may be removed on a signal.
        if (fd >= 0) {
            slots[*slot].ready.store(true, std::memory_order_release);
        } else {
            slots[*slot].in_use.store(false, std::memory_order_release);
            *slot = -1;
        }
    }
    creating.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return fd;
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
