// Heatshrink encoder for test inputs, benchmarks and the demo: turns bytes
// into a bit stream the decoder accepts, for any window bits W (4..15) and
// lookahead bits L (3..W-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tracemill::tools {

// Greedy LZSS with a hash chain over 3-byte prefixes. Returns the payload, or
// an empty vector for refused parameters (an empty input also encodes to no
// bytes). The last byte is padded with zero bits, which never form an item.
std::vector<uint8_t> heatshrink_encode(const uint8_t* data, size_t size, unsigned window_bits,
                                       unsigned lookahead_bits);

// The payload of `count` zero bytes, written directly without the zeros in
// memory: one literal, then back-references of the longest length.
std::vector<uint8_t> heatshrink_encode_zeros(uint64_t count, unsigned window_bits, unsigned lookahead_bits);

// Greedy LZSS that only looks back `period` bytes (at most the window): linear
// time, and a tiny payload for content that repeats with that period.
std::vector<uint8_t> heatshrink_encode_periodic(const uint8_t* data, size_t size, size_t period,
                                                unsigned window_bits, unsigned lookahead_bits);

}  // namespace tracemill::tools
