// Log containers deflated on worker threads while the next one fills: zlib
// level 1 runs at a fraction of the speed the records arrive at, so the
// writer hands each filled container over and takes the packed container
// objects back in the order it gave them. On a single core, or when no
// thread can be started, containers are deflated in the calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

struct z_stream_s;  // zlib's deflate state

namespace tracemill::blf {

class ContainerPacker {
public:
    ContainerPacker() = default;
    ~ContainerPacker();  // waits for the workers
    ContainerPacker(const ContainerPacker&) = delete;
    ContainerPacker& operator=(const ContainerPacker&) = delete;

    // Sets up `workers` threads (0: deflate in the caller) and a deflate
    // stream per container slot at zlib `level`; false (logged) when zlib
    // cannot be set up. Called once.
    bool start(int level, unsigned workers);

    // The container being filled: room for kContainerCapacity bytes of objects.
    uint8_t* objects() { return slots_[fill_].objects.data(); }
    // Queues the filled container, `size` bytes of objects, for deflating.
    void submit(size_t size);
    // Every slot is submitted: take_oldest must make room before the next fill.
    bool full() const;
    // Submitted containers not yet taken back.
    bool pending() const { return outstanding_ > 0; }
    // Waits for the oldest submitted container and hands back its container
    // object (headers, deflated data, padding), valid until the next submit;
    // empty (logged) when zlib failed. `uncompressed` gets its object bytes.
    std::span<const uint8_t> take_oldest(size_t* uncompressed);

private:
    enum class State { Free, Queued, Packing, Packed, Failed };
    struct Slot {
        std::vector<uint8_t> objects;
        size_t objects_size = 0;
        std::vector<uint8_t> packed;  // container object and padding
        size_t packed_size = 0;
        z_stream_s* stream = nullptr;  // the slot's own deflate state
        State state = State::Free;
    };

    static bool pack(Slot& slot);
    void work();

    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    size_t fill_ = 0;         // slot being filled
    size_t oldest_ = 0;       // oldest submitted slot
    size_t outstanding_ = 0;  // submitted, not yet taken
    size_t next_to_pack_ = 0; // workers take slots in submission order
    bool stopping_ = false;
    mutable std::mutex mutex_;                // guards every state, next_to_pack_ and stopping_
    std::condition_variable queued_;          // a slot was queued, or stopping
    std::condition_variable packed_;          // a slot was packed
};

}  // namespace tracemill::blf
