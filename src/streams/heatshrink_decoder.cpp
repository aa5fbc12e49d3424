// Heatshrink decoder: an explicit per-item state machine, plus a fast loop
// that decodes whole items from a 64-bit bit buffer while plenty of input and
// output room is at hand. The fast loop leaves the decoder exactly as the
// state machine would, so the two can take turns at any item boundary.
#include "streams/heatshrink_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/secure_wipe.h"

namespace tracemill {

HeatshrinkDecoder* decoder_new(uint16_t input_buffer_size, uint8_t window_bits, uint8_t lookahead_bits) {
    if (window_bits < kMinWindowBits || window_bits > kMaxWindowBits) return nullptr;
    if (input_buffer_size == 0) return nullptr;
    if (lookahead_bits < kMinLookaheadBits || lookahead_bits >= window_bits) return nullptr;
    const size_t bytes = sizeof(HeatshrinkDecoder) + input_buffer_size + (size_t{1} << window_bits);
    void* memory = std::calloc(1, bytes);
    if (memory == nullptr) return nullptr;
    auto* decoder = new (memory) HeatshrinkDecoder{};
    decoder->state = DecoderState::tag_bit;
    decoder->window_bits = window_bits;
    decoder->lookahead_bits = lookahead_bits;
    decoder->input_buffer_size = input_buffer_size;
    return decoder;
}

void decoder_wipe(HeatshrinkDecoder* decoder) {
    if (decoder == nullptr) return;
    secure_wipe(decoder->input_buffer(), decoder->input_buffer_size + (size_t{1} << decoder->window_bits));
}

void decoder_free(HeatshrinkDecoder* decoder) {
    if (decoder == nullptr) return;
    decoder->~HeatshrinkDecoder();
    std::free(decoder);
}

int32_t decoder_sink(HeatshrinkDecoder* decoder, const uint8_t* bytes, size_t count, size_t* taken) {
    if (decoder == nullptr || bytes == nullptr || taken == nullptr) return kSinkNullArgument;
    const size_t room = size_t{decoder->input_buffer_size} - decoder->input_size;
    if (room == 0) {
        *taken = 0;
        return kSinkFull;
    }
    const size_t n = std::min(room, count);
    std::memcpy(decoder->input_buffer() + decoder->input_size, bytes, n);
    decoder->input_size = static_cast<uint16_t>(decoder->input_size + n);
    *taken = n;
    return kSinkTaken;
}

int32_t get_bits(HeatshrinkDecoder* d, uint8_t count) {
    if (count > 15) return -1;
    if (count == 0) return 0;
    if (d->input_size == 0 && d->bit_index < (1u << (count - 1))) return -1;
    int32_t value = 0;
    for (uint8_t i = 0; i < count; ++i) {
        if (d->bit_index == 0) {
            if (d->input_size == 0) return -1;
            d->current_byte = d->input_buffer()[d->input_index++];
            if (d->input_index == d->input_size) {
                d->input_index = 0;
                d->input_size = 0;
            }
            d->bit_index = 0x80;
        }
        value = (value << 1) | ((d->current_byte & d->bit_index) ? 1 : 0);
        d->bit_index >>= 1;
    }
    return value;
}

namespace {

struct Output {
    uint8_t* bytes;
    size_t capacity;
    size_t produced;
};

inline uint16_t window_mask(const HeatshrinkDecoder* d) { return static_cast<uint16_t>((1u << d->window_bits) - 1); }

// Emits up to d->output_count bytes of the pending back-reference.
void copy_back_bytes(HeatshrinkDecoder* d, Output& out) {
    const size_t room = out.capacity - out.produced;
    if (room == 0) return;
    const size_t n = std::min<size_t>(room, d->output_count);
    const uint16_t mask = window_mask(d);
    uint8_t* window = d->window();
    uint8_t* dst = out.bytes + out.produced;
    // Byte by byte: a distance shorter than the length repeats the bytes
    // this very copy produces.
    for (size_t i = 0; i < n; ++i) {
        const uint8_t byte = window[static_cast<uint16_t>(d->head_index - d->output_index) & mask];
        window[d->head_index & mask] = byte;
        dst[i] = byte;
        ++d->head_index;
    }
    out.produced += n;
    d->output_count = static_cast<uint16_t>(d->output_count - n);
    if (d->output_count == 0) d->state = DecoderState::tag_bit;
}

void step_tag_bit(HeatshrinkDecoder* d) {
    const int32_t bit = get_bits(d, 1);
    if (bit < 0) return;
    if (bit == 1) {
        d->state = DecoderState::literal;
    } else if (d->window_bits > 8) {
        d->state = DecoderState::index_high;
    } else {
        d->output_index = 0;
        d->state = DecoderState::index_low;
    }
}

void step_literal(HeatshrinkDecoder* d, Output& out) {
    if (out.produced == out.capacity) return;
    const int32_t byte = get_bits(d, 8);
    if (byte < 0) return;
    d->window()[d->head_index & window_mask(d)] = static_cast<uint8_t>(byte);
    ++d->head_index;
    out.bytes[out.produced++] = static_cast<uint8_t>(byte);
    d->state = DecoderState::tag_bit;
}

void step_index_high(HeatshrinkDecoder* d) {
    const int32_t bits = get_bits(d, static_cast<uint8_t>(d->window_bits - 8));
    if (bits < 0) return;
    d->output_index = static_cast<uint16_t>(bits << 8);
    d->state = DecoderState::index_low;
}

void step_index_low(HeatshrinkDecoder* d) {
    const int32_t bits = get_bits(d, std::min<uint8_t>(d->window_bits, 8));
    if (bits < 0) return;
    d->output_index = static_cast<uint16_t>((d->output_index | bits) + 1);
    d->output_count = 0;
    d->state = d->lookahead_bits > 8 ? DecoderState::count_high : DecoderState::count_low;
}

void step_count_high(HeatshrinkDecoder* d) {
    const int32_t bits = get_bits(d, static_cast<uint8_t>(d->lookahead_bits - 8));
    if (bits < 0) return;
    d->output_count = static_cast<uint16_t>(bits << 8);
    d->state = DecoderState::count_low;
}

void step_count_low(HeatshrinkDecoder* d) {
    const int32_t bits = get_bits(d, std::min<uint8_t>(d->lookahead_bits, 8));
    if (bits < 0) return;
    d->output_count = static_cast<uint16_t>((d->output_count | bits) + 1);
    d->state = DecoderState::copy_back;
}

// Holds the unread bits of the input between whole items: up to 64 bits,
// most significant first, refilled with one big-endian load where possible.
struct BitBuffer {
    uint64_t bits;
    unsigned count;
    const uint8_t* input;
    size_t index;
    size_t end;

    void refill() {
        if (end - index >= 8) {
            uint64_t word;
            std::memcpy(&word, input + index, 8);
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
            const unsigned take = (64 - count) / 8;
            bits = count == 0 ? word : (bits << (8 * take)) | (word >> (64 - 8 * take));
            count += 8 * take;
            index += take;
            return;
        }
        while (count <= 56 && index < end) {
            bits = (bits << 8) | input[index++];
            count += 8;
        }
    }
    uint32_t take(unsigned width) {
        count -= width;
        return static_cast<uint32_t>(bits >> count) & ((1u << width) - 1);
    }
};

// Appends `length` bytes from `distance` back. Sources produced in this run
// of the fast loop are read from the output itself; older ones from the
// window, which the fast loop leaves untouched until it ends.
inline void copy_reference(const uint8_t* window, uint16_t mask, uint16_t head_at_start, uint8_t* out_start,
                           size_t produced_here, size_t distance, size_t length, bool slack) {
    uint8_t* dst = out_start + produced_here;
    if (distance <= produced_here) {
        const uint8_t* src = dst - distance;
        if (distance >= 8 && slack) {
            // Eight bytes at a time may run past `length` into output room not
            // yet produced, which later items overwrite.
            for (size_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
        } else if (distance == 1) {
            std::memset(dst, *src, length);
        } else {
            for (size_t i = 0; i < length; ++i) dst[i] = src[i];
        }
        return;
    }
    // The source starts before this run: first the window's part, then (for
    // a reference overlapping this run's start) the output from its beginning.
    const size_t from_window = std::min(length, distance - produced_here);
    const uint16_t position = static_cast<uint16_t>(head_at_start + produced_here - distance);
    const size_t start = position & mask;
    if (slack && start + from_window + 8 <= size_t{mask} + 1) {
        // Whole words; bytes copied past `from_window` are rewritten below or
        // lie in output room not yet produced.
        for (size_t i = 0; i < from_window; i += 8) std::memcpy(dst + i, window + start + i, 8);
    } else {
        for (size_t i = 0; i < from_window; ++i) dst[i] = window[static_cast<uint16_t>(position + i) & mask];
    }
    for (size_t i = from_window; i < length; ++i) dst[i] = out_start[i - from_window];
}

// Writes the last bytes of this run's output into the window.
void sync_window(HeatshrinkDecoder* d, const uint8_t* out_start, size_t produced_here) {
    const size_t window_size = size_t{1} << d->window_bits;
    const size_t n = std::min(produced_here, window_size);
    const uint8_t* src = out_start + produced_here - n;
    const size_t to = static_cast<uint16_t>(d->head_index - n) & (window_size - 1);
    const size_t first = std::min(n, window_size - to);
    std::memcpy(d->window() + to, src, first);
    std::memcpy(d->window(), src + first, n - first);
}

// Decodes whole items starting in tag_bit while the bit buffer holds a
// complete item of the largest kind and the output has room. On leaving, the
// window is brought up to date and the unconsumed bits are handed back: whole
// bytes to the input buffer, a partly used byte to current_byte/bit_index. A
// back-reference cut short by a full output leaves the decoder in copy_back
// for the state machine to finish.
void decode_items_fast(HeatshrinkDecoder* d, Output& out) {
    const unsigned window_bits = d->window_bits;
    const unsigned lookahead_bits = d->lookahead_bits;
    const unsigned largest_item = std::max(9u, 1 + window_bits + lookahead_bits);
    if ((size_t{d->input_size} - d->input_index) * 8 < largest_item * 2 || d->bit_index == 0x80) return;

    const unsigned pending = d->bit_index == 0 ? 0 : static_cast<unsigned>(std::countr_zero(d->bit_index)) + 1;
    BitBuffer in{static_cast<uint64_t>(d->current_byte & ((1u << pending) - 1)), pending, d->input_buffer(),
                 d->input_index, d->input_size};
    const uint16_t mask = window_mask(d);
    const uint16_t head_at_start = d->head_index;
    uint8_t* const out_start = out.bytes + out.produced;
    const size_t room = out.capacity - out.produced;
    size_t produced = 0;

    for (;;) {
        if (in.count < largest_item) {
            in.refill();
            if (in.count < largest_item) break;
        }
        if (produced == room) break;
        if (in.take(1)) {
            out_start[produced++] = static_cast<uint8_t>(in.take(8));
            continue;
        }
        const size_t distance = size_t{in.take(window_bits)} + 1;
        const size_t length = size_t{in.take(lookahead_bits)} + 1;
        const size_t n = std::min(length, room - produced);
        copy_reference(d->window(), mask, head_at_start, out_start, produced, distance, n, room - produced >= n + 8);
        produced += n;
        if (n < length) {
            d->output_index = static_cast<uint16_t>(distance);
            d->output_count = static_cast<uint16_t>(length - n);
            d->state = DecoderState::copy_back;
            break;
        }
    }

    d->head_index = static_cast<uint16_t>(head_at_start + produced);
    sync_window(d, out_start, produced);
    out.produced += produced;

    const unsigned whole_bytes = in.count / 8;
    const unsigned partial_bits = in.count % 8;
    d->current_byte =
        partial_bits == 0 ? 0 : static_cast<uint8_t>((in.bits >> (whole_bytes * 8)) & ((1u << partial_bits) - 1));
    d->bit_index = partial_bits == 0 ? 0 : static_cast<uint8_t>(1u << (partial_bits - 1));
    const size_t index = in.index - whole_bytes;
    if (index == in.end) {
        d->input_index = 0;
        d->input_size = 0;
    } else {
        d->input_index = static_cast<uint16_t>(index);
    }
}

}  // namespace

int32_t decoder_poll(HeatshrinkDecoder* d, uint8_t* output, size_t capacity, size_t* produced) {
    if (d == nullptr || output == nullptr || produced == nullptr) return kPollNullArgument;
    Output out{output, capacity, 0};
    *produced = 0;
    for (;;) {
        if (d->state == DecoderState::tag_bit) decode_items_fast(d, out);
        const DecoderState before = d->state;
        switch (before) {
            case DecoderState::tag_bit: step_tag_bit(d); break;
            case DecoderState::literal: step_literal(d, out); break;
            case DecoderState::index_high: step_index_high(d); break;
            case DecoderState::index_low: step_index_low(d); break;
            case DecoderState::count_high: step_count_high(d); break;
            case DecoderState::count_low: step_count_low(d); break;
            case DecoderState::copy_back: copy_back_bytes(d, out); break;
            default: *produced = out.produced; return kPollUnknownState;
        }
        if (d->state == before) {
            *produced = out.produced;
            return out.produced == capacity ? kPollOutputFull : kPollNeedInput;
        }
    }
}

}  // namespace tracemill
