// DT and SD blocks: record and signal bytes, read through a stream view of
// the data section. Nothing of the data section is read at load time.
#include <algorithm>
#include <cstring>

#include "mdf/block_reader.h"

namespace tracemill {

bool DataBlock::begin_load(ByteStream* stream, BlockCache& cache, const BlockHeader& h, std::vector<uint64_t>&, uint64_t&) {
    // The whole block behind the header is data, whatever link count it declares.
    header.kind = h.kind;
    header.length = h.length;
    header.link_count = 0;
    data_start = file_offset + kBlockHeaderSize;
    position = 0;
    source = stream;
    source_memory = cache.memory();
    source_size = cache.stream_size();
    return true;
}

int64_t DataBlock::read(void* dst, uint64_t count) {
    const uint64_t size = data_size();
    if (position >= size) return 0;
    const uint64_t wanted = std::min(count, size - position);
    if (wanted == 0) return 0;

    if (const uint8_t* bytes = direct_data()) {
        const uint64_t available = direct_size() > position ? direct_size() - position : 0;
        const uint64_t n = std::min(wanted, available);
        if (n) std::memcpy(dst, bytes + position, n);
        position += n;
        return static_cast<int64_t>(n);
    }
    const auto at = static_cast<int64_t>(data_start + position);
    if (stream_seek(source, at, kSeekSet) != at) return -1;
    const int64_t got = stream_read(source, dst, wanted);
    if (got > 0) position += static_cast<uint64_t>(got);
    return got;
}

int64_t DataBlock::read_at(uint64_t offset, void* dst, uint64_t count) {
    const uint64_t size = data_size();
    if (offset > size) return -1;  // a seek there fails
    if (direct_data()) {
        position = offset;
        return stream_read_fully(this, dst, count);
    }
    const uint64_t wanted = std::min(count, size - offset);
    const int64_t got = stream_read_at(source, data_start + offset, dst, wanted);
    if (got >= 0) position = offset + static_cast<uint64_t>(got);
    return got;
}

int64_t DataBlock::seek(int64_t offset, int32_t whence) {
    const uint64_t size = data_size();
    uint64_t target = 0;
    switch (whence) {
        case kSeekSet:
            if (offset < 0) return -1;
            target = std::min(static_cast<uint64_t>(offset), size);
            break;
        case kSeekCur:
            if (offset < 0) {
                const uint64_t back = static_cast<uint64_t>(-(offset + 1)) + 1;
                if (back > position) return -1;
                target = position - back;
            } else {
                const auto ahead = static_cast<uint64_t>(offset);
                target = ahead >= size - std::min(position, size) ? size : position + ahead;
            }
            break;
        case kSeekEnd: target = size; break;
        default: target = 0; break;
    }
    if (!direct_data()) {
        const auto at = static_cast<int64_t>(data_start + target);
        if (stream_seek(source, at, kSeekSet) != at) return -1;
    }
    position = target;
    return static_cast<int64_t>(position);
}

}  // namespace tracemill
