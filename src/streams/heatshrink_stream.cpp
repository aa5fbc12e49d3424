// Runs the heatshrink decoder over a source stream: polls decoded bytes into
// the caller's buffer and refills the decoder whenever it runs dry.
#include "streams/heatshrink_stream.h"

#include <cstring>
#include <new>

#include "common/secure_wipe.h"

namespace tracemill {

std::unique_ptr<HeatshrinkStream> heatshrink_stream_new(ByteStream* source, uint8_t window_bits,
                                                        uint8_t lookahead_bits, bool holds_secrets) {
    if (source == nullptr) return nullptr;
    DecoderPtr decoder(decoder_new(kHeatshrinkInputChunk, window_bits, lookahead_bits));
    if (!decoder) return nullptr;
    return std::unique_ptr<HeatshrinkStream>(new (std::nothrow) HeatshrinkStream(source, std::move(decoder), holds_secrets));
}

int32_t HeatshrinkStream::close() {
    if (holds_secrets_) decoder_wipe(decoder_.get());
    decoder_.reset();
    return 0;
}

bool HeatshrinkStream::feed(bool& failed) {
    uint8_t chunk[kHeatshrinkInputChunk];
    std::memset(chunk, 0, sizeof chunk);
    const int64_t got = stream_read(source_, chunk, sizeof chunk);
    const bool fed = feed_chunk(chunk, got, failed);
    if (holds_secrets_) secure_wipe(chunk, sizeof chunk);
    return fed;
}

bool HeatshrinkStream::feed_chunk(const uint8_t* chunk, int64_t got, bool& failed) {
    if (got < 0) {
        failed = true;
        return false;
    }
    // An exhausted source ends the data even if the decoder still holds a
    // partial item: more input will never come to complete it.
    if (got == 0) return false;
    size_t taken = 0;
    if (decoder_sink(decoder_.get(), chunk, static_cast<size_t>(got), &taken) < 0) {
        failed = true;
        return false;
    }
    // The decoder asks for input only when its buffer is empty, so a chunk is
    // normally taken whole; otherwise the rest is read again next time.
    if (taken < static_cast<size_t>(got) &&
        stream_seek(source_, static_cast<int64_t>(taken) - got, kSeekCur) < 0) {
        failed = true;
        return false;
    }
    return true;
}

int64_t HeatshrinkStream::read(void* dst, uint64_t count) {
    if (!decoder_ || dst == nullptr) return -1;
    auto* out = static_cast<uint8_t*>(dst);
    uint64_t remaining = count;
    while (remaining > 0) {
        size_t produced = 0;
        const int32_t polled = decoder_poll(decoder_.get(), out, remaining, &produced);
        out += produced;
        remaining -= produced;
        if (polled == kPollOutputFull) continue;
        if (polled != kPollNeedInput) return -1;
        bool failed = false;
        if (!feed(failed)) {
            if (failed) return -1;
            break;
        }
    }
    return static_cast<int64_t>(count - remaining);
}

}  // namespace tracemill
