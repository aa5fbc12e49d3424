// Positioned little- and big-endian field reads.
#include "streams/field_reader.h"

#include <algorithm>
#include <exception>

namespace tracemill {

namespace {

// Positions `stream` at `at`; a seek that lands elsewhere would make the
// field read bytes from the wrong place, so it fails the field.
bool seek_exactly(ByteStream* stream, int64_t at) {
    return at >= 0 && stream_seek(stream, at, kSeekSet) == at;
}

bool read_fully(ByteStream* stream, uint8_t* dst, size_t n) {
    return stream_read_fully(stream, dst, n) == static_cast<int64_t>(n);
}

}  // namespace

bool FieldReader::read_exact(void* dst, size_t n) {
    int64_t at;
    if (__builtin_add_overflow(start_, offset_, &at)) return false;
    if (!seek_exactly(stream_, at)) return false;
    if (!read_fully(stream_, static_cast<uint8_t*>(dst), n)) return false;
    offset_ += static_cast<int64_t>(n);
    return true;
}

bool FieldReader::read_u8(uint8_t& value) {
    return read_exact(&value, 1);
}

bool FieldReader::read_u16(uint16_t& value) {
    uint8_t b[2];
    if (!read_exact(b, sizeof b)) return false;
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
}

bool FieldReader::read_u32(uint32_t& value) {
    uint8_t b[4];
    if (!read_exact(b, sizeof b)) return false;
    value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    return true;
}

bool FieldReader::read_u64(uint64_t& value) {
    uint8_t b[8];
    if (!read_exact(b, sizeof b)) return false;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    value = v;
    return true;
}

bool FieldReader::read_u32_be(uint32_t& value) {
    uint8_t b[4];
    if (!read_exact(b, sizeof b)) return false;
    value = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
    return true;
}

bool FieldReader::read_bytes(void* dst, size_t n) {
    return read_exact(dst, n);
}

bool FieldReader::read_text(std::string& text, size_t n) {
    int64_t at;
    if (__builtin_add_overflow(start_, offset_, &at) || !seek_exactly(stream_, at)) return false;
    // Grow in bounded steps, so that a corrupt length costs no more memory
    // than the stream actually holds.
    constexpr size_t kStep = size_t{1} << 16;
    const size_t old_size = text.size();
    size_t done = 0;
    try {
        while (done < n) {
            const size_t step = std::min(kStep, n - done);
            text.resize(old_size + done + step);
            if (!read_fully(stream_, reinterpret_cast<uint8_t*>(text.data()) + old_size + done, step)) break;
            done += step;
        }
    } catch (const std::exception&) {
        // Out of memory for this text: the field fails like a short read.
    }
    if (done < n) {
        text.resize(old_size);
        return false;
    }
    offset_ += static_cast<int64_t>(n);
    return true;
}

}  // namespace tracemill
