// The container slots and the workers that deflate them.
#include "blf/container_packer.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <exception>

#include "blf/blf_layout.h"
#include "common/log.h"

namespace tracemill::blf {

ContainerPacker::~ContainerPacker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    for (Slot& slot : slots_) {
        if (slot.stream == nullptr) continue;
        deflateEnd(slot.stream);
        delete slot.stream;
    }
}

bool ContainerPacker::start(int level, unsigned workers) {
    // Two slots per worker keep each busy while the writer fills the next one.
    slots_.resize(workers == 0 ? 1 : 2 * workers + 1);
    for (Slot& slot : slots_) {
        // Full window; memory level 9 deflates a little faster than zlib's default 8.
        auto* stream = new (std::nothrow) z_stream{};
        if (stream == nullptr || deflateInit2(stream, level, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
            delete stream;
            TM_LOG(kError, "Could not set up the BLF compressor");
            return false;
        }
        slot.stream = stream;
        slot.objects.resize(kContainerCapacity);
        slot.packed.resize(kContainerHeaderSize + deflateBound(stream, kContainerCapacity) + 3);
    }
    try {
        workers_.reserve(workers);
        for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
        // Fewer workers, or none: then the caller deflates.
    }
    return true;
}

void ContainerPacker::submit(size_t size) {
    Slot& slot = slots_[fill_];
    slot.objects_size = size;
    fill_ = (fill_ + 1) % slots_.size();
    ++outstanding_;
    if (workers_.empty()) {
        slot.state = pack(slot) ? State::Packed : State::Failed;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.state = State::Queued;
    }
    queued_.notify_one();
}

bool ContainerPacker::full() const {
    return outstanding_ == slots_.size();
}

std::span<const uint8_t> ContainerPacker::take_oldest(size_t* uncompressed) {
    Slot& slot = slots_[oldest_];
    State state;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        packed_.wait(lock, [&] { return slot.state == State::Packed || slot.state == State::Failed; });
        state = slot.state;
        slot.state = State::Free;
    }
    oldest_ = (oldest_ + 1) % slots_.size();
    --outstanding_;
    *uncompressed = slot.objects_size;
    if (state == State::Failed) {
        TM_LOG(kError, "Could not compress BLF data");
        return {};
    }
    return {slot.packed.data(), slot.packed_size};
}

void ContainerPacker::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [&] { return stopping_ || slots_[next_to_pack_].state == State::Queued; });
        if (stopping_) return;
        Slot& slot = slots_[next_to_pack_];
        slot.state = State::Packing;
        next_to_pack_ = (next_to_pack_ + 1) % slots_.size();
        lock.unlock();
        const bool packed = pack(slot);
        lock.lock();
        slot.state = packed ? State::Packed : State::Failed;
        packed_.notify_all();
    }
}

// Deflates the slot's objects behind the container headers; pads the object
// with (size % 4) zero bytes, the padding readers skip after a container.
bool ContainerPacker::pack(Slot& slot) {
    z_stream* stream = slot.stream;
    if (deflateReset(stream) != Z_OK) return false;
    stream->next_in = slot.objects.data();
    stream->avail_in = static_cast<uInt>(slot.objects_size);
    stream->next_out = slot.packed.data() + kContainerHeaderSize;
    stream->avail_out = static_cast<uInt>(slot.packed.size() - kContainerHeaderSize - 3);
    if (deflate(stream, Z_FINISH) != Z_STREAM_END) return false;
    const size_t object_size = kContainerHeaderSize + stream->total_out;
    uint8_t* out = slot.packed.data();
    std::memcpy(out, "LOBJ", 4);
    put_u16(out + 4, kBaseHeaderSize);
    put_u16(out + 6, 1);
    put_u32(out + 8, static_cast<uint32_t>(object_size));
    put_u32(out + 12, static_cast<uint32_t>(ObjectType::LogContainer));
    std::memset(out + kBaseHeaderSize, 0, kContainerHeaderSize - kBaseHeaderSize);
    put_u16(out + kBaseHeaderSize, kDeflateMethod);
    put_u32(out + kBaseHeaderSize + 8, static_cast<uint32_t>(slot.objects_size));
    const size_t padding = object_size % 4;
    std::memset(out + object_size, 0, padding);
    slot.packed_size = object_size + padding;
    return true;
}

}  // namespace tracemill::blf
