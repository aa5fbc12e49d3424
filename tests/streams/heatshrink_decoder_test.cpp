// The heatshrink decoder on its own: hand-made bit streams, parameter limits,
// the sink/poll/finish contract, and round trips with the test encoder fed in
// every chunk size.
#include "streams/heatshrink_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "heatshrink_encoder.h"
#include "streams/container_test_support.h"

namespace tracemill {
namespace {

using testing_support::bytes_of;
using testing_support::mixed_content;

// Sinks `payload` in pieces of `input_chunk` bytes and polls into buffers of
// `output_chunk` bytes until the decoder is done.
std::vector<uint8_t> decode(const std::vector<uint8_t>& payload, uint8_t w, uint8_t l, size_t input_chunk,
                            size_t output_chunk, uint16_t buffer_size = 1024) {
    std::vector<uint8_t> out;
    DecoderPtr decoder(decoder_new(buffer_size, w, l));
    EXPECT_NE(decoder, nullptr);
    if (!decoder) return out;
    std::vector<uint8_t> chunk(output_chunk);
    size_t offset = 0;
    for (int guard = 0; guard < 10'000'000; ++guard) {
        size_t produced = 0;
        const int32_t polled = decoder_poll(decoder.get(), chunk.data(), chunk.size(), &produced);
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(produced));
        if (polled == kPollOutputFull) continue;
        EXPECT_EQ(polled, kPollNeedInput);
        if (offset == payload.size()) break;
        size_t taken = 0;
        const size_t n = std::min(input_chunk, payload.size() - offset);
        EXPECT_EQ(decoder_sink(decoder.get(), payload.data() + offset, n, &taken), kSinkTaken);
        offset += taken;
    }
    EXPECT_EQ(decoder->input_size, 0);  // every input byte was decoded
    return out;
}

struct KnownStream {
    const char* name;
    uint8_t window_bits;
    uint8_t lookahead_bits;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> expected;
};

TEST(HeatshrinkDecoder, DecodesHandMadeStreams) {
    const std::vector<KnownStream> cases = {
        {"literal then overlapping reference", 8, 4, bytes_of({0xB0, 0x80, 0x08}), bytes_of({0x61, 0x61, 0x61, 0x61})},
        {"distance split into high and low bits", 11, 4, bytes_of({0xB0, 0x80, 0x01, 0x00}),
         bytes_of({0x61, 0x61, 0x61, 0x61})},
        {"reference before any output reads zeros", 8, 4, bytes_of({0x00, 0x08}), bytes_of({0x00, 0x00})},
        {"padding bits produce nothing", 8, 4, bytes_of({0xB0, 0x80}), bytes_of({0x61})},
        {"empty input", 8, 4, {}, {}},
        // 0 | 0000000000001 (distance 2) | 000000001 (length 2), after literals 'a' 'b'.
        {"wide fields over byte edges", 13, 9, bytes_of({0xB0, 0xD8, 0x80, 0x01, 0x00, 0x80}),
         bytes_of({'a', 'b', 'a', 'b'})},
    };
    for (const KnownStream& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t chunk : {size_t{1}, size_t{1024}}) {
            EXPECT_EQ(decode(c.payload, c.window_bits, c.lookahead_bits, chunk, chunk), c.expected);
        }
    }
}

TEST(HeatshrinkDecoder, RefusesParametersOutsideTheLimits) {
    struct Parameters {
        uint16_t buffer;
        uint8_t window_bits;
        uint8_t lookahead_bits;
        bool accepted;
    };
    const Parameters cases[] = {
        {1024, 3, 2, false},  {1024, 16, 4, false}, {1024, 0, 3, false},  {0, 8, 4, false},
        {1024, 8, 2, false},  {1024, 8, 8, false},  {1024, 8, 9, false},  {1024, 4, 3, true},
        {1024, 15, 14, true}, {1, 8, 7, true},      {1024, 11, 4, true},
    };
    for (const Parameters& p : cases) {
        SCOPED_TRACE(::testing::Message() << "buffer " << p.buffer << " W " << int(p.window_bits) << " L "
                                          << int(p.lookahead_bits));
        DecoderPtr decoder(decoder_new(p.buffer, p.window_bits, p.lookahead_bits));
        EXPECT_EQ(decoder != nullptr, p.accepted);
        if (decoder) {
            EXPECT_EQ(decoder->state, DecoderState::tag_bit);
            EXPECT_EQ(decoder->input_size, 0);
            EXPECT_EQ(decoder->head_index, 0);
        }
    }
}

TEST(HeatshrinkDecoder, NullArgumentsAndUnknownStatesAreErrors) {
    DecoderPtr decoder(decoder_new(16, 8, 4));
    ASSERT_NE(decoder, nullptr);
    uint8_t byte = 0;
    size_t count = 0;
    EXPECT_EQ(decoder_sink(nullptr, &byte, 1, &count), kSinkNullArgument);
    EXPECT_EQ(decoder_sink(decoder.get(), nullptr, 1, &count), kSinkNullArgument);
    EXPECT_EQ(decoder_sink(decoder.get(), &byte, 1, nullptr), kSinkNullArgument);
    EXPECT_EQ(decoder_poll(nullptr, &byte, 1, &count), kPollNullArgument);
    EXPECT_EQ(decoder_poll(decoder.get(), nullptr, 1, &count), kPollNullArgument);
    EXPECT_EQ(decoder_poll(decoder.get(), &byte, 1, nullptr), kPollNullArgument);
    decoder->state = static_cast<DecoderState>(7);
    EXPECT_EQ(decoder_poll(decoder.get(), &byte, 1, &count), kPollUnknownState);
}

TEST(HeatshrinkDecoder, SinkTakesWhatFitsAndReportsFull) {
    DecoderPtr decoder(decoder_new(4, 8, 4));
    ASSERT_NE(decoder, nullptr);
    const std::vector<uint8_t> bytes = bytes_of({1, 2, 3, 4, 5, 6});
    size_t taken = 99;
    EXPECT_EQ(decoder_sink(decoder.get(), bytes.data(), bytes.size(), &taken), kSinkTaken);
    EXPECT_EQ(taken, 4u);
    EXPECT_EQ(decoder->input_size, 4);
    EXPECT_EQ(decoder_sink(decoder.get(), bytes.data() + 4, 2, &taken), kSinkFull);
    EXPECT_EQ(taken, 0u);
}

TEST(HeatshrinkDecoder, GetBitsTakesMostSignificantFirstAndNeverRunsDry) {
    DecoderPtr decoder(decoder_new(8, 8, 4));
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(get_bits(decoder.get(), 1), -1);  // nothing buffered
    const std::vector<uint8_t> bytes = bytes_of({0xA5, 0x3C});
    size_t taken = 0;
    decoder_sink(decoder.get(), bytes.data(), bytes.size(), &taken);
    EXPECT_EQ(get_bits(decoder.get(), 16), -1);  // wider than any field
    EXPECT_EQ(get_bits(decoder.get(), 3), 0b101);
    EXPECT_EQ(get_bits(decoder.get(), 8), 0b00101001);  // crosses into the second byte
    EXPECT_EQ(decoder->input_size, 0);                 // the buffer emptied as its last byte was loaded
    EXPECT_EQ(get_bits(decoder.get(), 6), -1);          // five bits left: lacking, nothing consumed
    EXPECT_EQ(get_bits(decoder.get(), 5), 0b11100);
    EXPECT_EQ(get_bits(decoder.get(), 1), -1);
}

TEST(HeatshrinkDecoder, StopsAtAFullOutputAndResumesMidReference) {
    // 'a' then distance 1, length 16: seventeen 'a' in total.
    const std::vector<uint8_t> payload = bytes_of({0xB0, 0x80, 0x3C});
    DecoderPtr decoder(decoder_new(64, 8, 4));
    ASSERT_NE(decoder, nullptr);
    size_t taken = 0;
    decoder_sink(decoder.get(), payload.data(), payload.size(), &taken);
    uint8_t out[5];
    size_t produced = 0;
    EXPECT_EQ(decoder_poll(decoder.get(), out, sizeof out, &produced), kPollOutputFull);
    EXPECT_EQ(produced, 5u);
    EXPECT_EQ(decoder->state, DecoderState::copy_back);
    size_t total = produced;
    while (decoder_poll(decoder.get(), out, sizeof out, &produced) == kPollOutputFull) total += produced;
    total += produced;
    EXPECT_EQ(total, 17u);
}

TEST(HeatshrinkDecoder, RoundTripsForManyWindowAndLookaheadSizes) {
    const std::vector<uint8_t> content = mixed_content(40000, 7);
    for (uint8_t w = kMinWindowBits; w <= kMaxWindowBits; ++w) {
        for (uint8_t l = kMinLookaheadBits; l < w; l += (w > 8 ? 3 : 1)) {
            SCOPED_TRACE(::testing::Message() << "W " << int(w) << " L " << int(l));
            const std::vector<uint8_t> payload = tools::heatshrink_encode(content.data(), content.size(), w, l);
            ASSERT_FALSE(payload.empty());
            EXPECT_EQ(decode(payload, w, l, 1024, 4096), content);
        }
    }
}

TEST(HeatshrinkDecoder, RoundTripsWithInputAndOutputInEveryChunkSize) {
    const std::vector<uint8_t> content = mixed_content(3000, 11);
    const std::pair<uint8_t, uint8_t> parameters[] = {{4, 3}, {8, 4}, {11, 4}, {13, 10}};
    for (auto [w, l] : parameters) {
        const std::vector<uint8_t> payload = tools::heatshrink_encode(content.data(), content.size(), w, l);
        for (size_t chunk = 1; chunk <= 70; ++chunk) {
            SCOPED_TRACE(::testing::Message() << "W " << int(w) << " L " << int(l) << " chunk " << chunk);
            ASSERT_EQ(decode(payload, w, l, chunk, 4096, 64), content);
            ASSERT_EQ(decode(payload, w, l, 1024, chunk), content);
        }
    }
}

TEST(HeatshrinkDecoder, RandomBitStreamsDecodeTheSameInAnyChunking) {
    // Any bit string is a valid stream; decoding must not depend on how it
    // is cut up (the whole-item loop and the per-state steps agree).
    std::mt19937 random(3);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> noise(2000);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        const uint8_t w = static_cast<uint8_t>(4 + round % 12);
        const uint8_t l = static_cast<uint8_t>(3 + round % (w - 3));
        const std::vector<uint8_t> whole = decode(noise, w, l, 1024, 1 << 20);
        EXPECT_EQ(decode(noise, w, l, 1, 1), whole);
        EXPECT_EQ(decode(noise, w, l, 7, 3), whole);
    }
}

}  // namespace
}  // namespace tracemill
