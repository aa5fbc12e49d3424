// A read-only stream that decompresses a heatshrink bit stream read from a
// borrowed source, 1024 bytes at a time. Reads give 0 once the source is
// exhausted and every complete item has been decoded.
#pragma once

#include <cstdint>
#include <memory>

#include "streams/byte_stream.h"
#include "streams/heatshrink_decoder.h"

namespace tracemill {

inline constexpr uint16_t kHeatshrinkInputChunk = 1024;

class HeatshrinkStream final : public ByteStream {
public:
    HeatshrinkStream(ByteStream* source, DecoderPtr decoder, bool holds_secrets)
        : source_(source), decoder_(std::move(decoder)), holds_secrets_(holds_secrets) {}
    ~HeatshrinkStream() override { close(); }

    int64_t read(void* dst, uint64_t count) override;
    // The stream only decompresses: writing and positioning fail.
    int64_t write(const void*, uint64_t) override { return -1; }
    int64_t tell() override { return -1; }
    int64_t seek(int64_t, int32_t) override { return -1; }
    // Releases the decoder; the source stays open.
    int32_t close() override;

private:
    // Feeds the next chunk of the source to the decoder; false at the end of
    // the source or on an error, which also sets `failed`.
    bool feed(bool& failed);
    // Hands `got` bytes of `chunk` (the source's read result) to the decoder.
    bool feed_chunk(const uint8_t* chunk, int64_t got, bool& failed);

    ByteStream* source_;
    DecoderPtr decoder_;
    bool holds_secrets_;  // the decoder's window is wiped before it is freed
};

// None for a null source, refused parameters (see decoder_new) or when
// memory runs out. With `holds_secrets` the bytes it buffers are wiped.
std::unique_ptr<HeatshrinkStream> heatshrink_stream_new(ByteStream* source, uint8_t window_bits,
                                                        uint8_t lookahead_bits, bool holds_secrets = false);

}  // namespace tracemill
