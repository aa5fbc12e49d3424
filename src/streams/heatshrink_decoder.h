// Incremental decoder of the heatshrink LZSS bit stream.
//
// The caller sinks compressed bytes into a fixed input buffer and polls
// decoded bytes out into its own buffer; the decoder never allocates after
// creation. Item layout, most significant bit first:
//   1 + 8 bits          a literal byte
//   0 + W bits + L bits a back-reference: distance - 1, then length - 1
// A back-reference copies from the last 2^W output bytes (the window), may
// overlap the bytes it produces, and reads zero bytes before the first output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tracemill {

// Where the decoder stands in the current item.
enum class DecoderState : uint8_t {
    tag_bit = 0,     // next bit says literal (1) or back-reference (0)
    literal = 1,     // next 8 bits are an output byte
    index_high = 2,  // high W - 8 bits of distance - 1 (only when W > 8)
    index_low = 3,   // low min(W, 8) bits of distance - 1
    count_high = 4,  // high L - 8 bits of length - 1 (only when L > 8)
    count_low = 5,   // low min(L, 8) bits of length - 1
    copy_back = 6,   // copying the back-reference into the output
};

enum DecoderSinkResult : int32_t { kSinkTaken = 0, kSinkFull = 1, kSinkNullArgument = -1 };
enum DecoderPollResult : int32_t {
    kPollNeedInput = 0,
    kPollOutputFull = 1,
    kPollNullArgument = -1,
    kPollUnknownState = -2,
};

inline constexpr uint8_t kMinWindowBits = 4;
inline constexpr uint8_t kMaxWindowBits = 15;
inline constexpr uint8_t kMinLookaheadBits = 3;

// One allocation: these fields, then the input buffer, then the window.
struct HeatshrinkDecoder {
    uint16_t input_size;    // bytes present in the input buffer
    uint16_t input_index;   // next unread byte of the input buffer
    uint16_t output_count;  // bytes of the current back-reference still to copy
    uint16_t output_index;  // distance of the current back-reference
    uint16_t head_index;    // bytes output so far, modulo 65536
    DecoderState state;
    uint8_t current_byte;   // input byte whose bits are being taken
    uint8_t bit_index;      // mask of the next bit of current_byte, 0 when none is left
    uint8_t window_bits;    // W
    uint8_t lookahead_bits; // L
    uint16_t input_buffer_size;

    uint8_t* input_buffer() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* window() { return input_buffer() + input_buffer_size; }
};

// None unless 4 <= W <= 15, 3 <= L < W and the input buffer size is not 0.
HeatshrinkDecoder* decoder_new(uint16_t input_buffer_size, uint8_t window_bits, uint8_t lookahead_bits);
void decoder_free(HeatshrinkDecoder* decoder);
// Wipes the buffered input and the window, for decoders of secret content.
void decoder_wipe(HeatshrinkDecoder* decoder);

// Copies as many bytes as fit into the input buffer; `taken` says how many.
int32_t decoder_sink(HeatshrinkDecoder* decoder, const uint8_t* bytes, size_t count, size_t* taken);

// Decodes into `output` until it is full or the input runs out.
int32_t decoder_poll(HeatshrinkDecoder* decoder, uint8_t* output, size_t capacity, size_t* produced);

// Takes the next `count` bits (at most 15) most significant first; -1 when
// too few are buffered, in which case nothing is consumed.
int32_t get_bits(HeatshrinkDecoder* decoder, uint8_t count);

struct DecoderDeleter {
    void operator()(HeatshrinkDecoder* decoder) const { decoder_free(decoder); }
};
using DecoderPtr = std::unique_ptr<HeatshrinkDecoder, DecoderDeleter>;

}  // namespace tracemill
