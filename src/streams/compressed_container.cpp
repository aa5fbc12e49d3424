// The compressed layer: checks a container's header and parameters, runs the
// payload through a range view, the CRC register and the heatshrink decoder
// into memory, and checks the CRC footer when there is one.
#include "streams/compressed_container.h"

#include <bit>
#include <new>

#include "common/log.h"
#include "common/secure_wipe.h"
#include "streams/crc_stream.h"
#include "streams/field_reader.h"
#include "streams/heatshrink_stream.h"
#include "streams/memory_stream.h"

namespace tracemill {
namespace {

constexpr size_t kDrainChunk = 16384;

// Heatshrink on bus logs stays below 10 to 1 (1.5 to 2 on the examples); a
// crafted payload of back-references reaches about 2300, so a few MB could
// ask for gigabytes. Content beyond this many times the payload is refused.
constexpr uint64_t kMaxExpansion = 1024;

bool accepts_header(const ContainerHeader& header) {
    return header.container_type == kContainerCompressed && header.format_version == 1 &&
           header.check_flag <= 1 && header.footer_flag == header.check_flag;
}

// End of the payload for range_stream_new: before the footer, or open.
bool payload_end(ByteStream* container, const ContainerHeader& header, int64_t& end) {
    end = -1;
    if (header.footer_flag == 0) return true;
    const int64_t size = stream_size(container);
    if (size < 0) {
        TM_LOG(kError, "Could not determine the size of the compressed container");
        return false;
    }
    if (size - 4 < kCompressedPayloadOffset) {
        TM_LOG(kError, "Compressed container of %lld bytes is too short to hold its CRC footer",
               static_cast<long long>(size));
        return false;
    }
    end = size - 4;
    return true;
}

// The most content a payload ending at `end` (-1: at the container's end) may yield.
bool expansion_limit(ByteStream* container, int64_t end, uint64_t& limit) {
    const int64_t stop = end >= 0 ? end : stream_size(container);
    if (stop < 0) {
        TM_LOG(kError, "Could not determine the size of the compressed container");
        return false;
    }
    const uint64_t payload = stop > kCompressedPayloadOffset ? static_cast<uint64_t>(stop - kCompressedPayloadOffset) : 0;
    limit = payload > UINT64_MAX / kMaxExpansion ? UINT64_MAX : kMaxExpansion * payload;
    return true;
}

// Moves every decompressed byte into `destination`. Unlike a plain copy this
// tells a source failure and a destination that stops accepting bytes (memory
// exhausted) from the end of the data.
bool drain_chunks(ByteStream* source, ByteStream* destination, uint8_t* chunk, uint64_t limit) {
    uint64_t stored = 0;
    for (;;) {
        const int64_t got = stream_read(source, chunk, kDrainChunk);
        if (got == 0) return true;
        if (got < 0) {
            TM_LOG(kError, "Could not read the compressed payload");
            return false;
        }
        if (static_cast<uint64_t>(got) > limit - stored) {
            TM_LOG(kError, "Decompressed data exceeds %llu times the compressed size (%llu bytes)",
                   static_cast<unsigned long long>(kMaxExpansion), static_cast<unsigned long long>(limit));
            return false;
        }
        if (stream_write(destination, chunk, static_cast<uint64_t>(got)) != got) {
            TM_LOG(kError, "Out of memory while storing decompressed data (%llu bytes stored)",
                   static_cast<unsigned long long>(stored));
            return false;
        }
        stored += static_cast<uint64_t>(got);
    }
}

// The chunk passes plaintext when the container is decrypted content: wiped then.
bool drain(ByteStream* source, ByteStream* destination, uint64_t limit, bool holds_secrets) {
    uint8_t chunk[kDrainChunk];
    const bool drained = drain_chunks(source, destination, chunk, limit);
    if (holds_secrets) secure_wipe(chunk, sizeof chunk);
    return drained;
}

bool decompress(ByteStream* container, const ContainerHeader& header, ByteStream* destination, bool holds_secrets) {
    if (container == nullptr || destination == nullptr || !accepts_header(header)) return false;
    if (stream_seek(container, kContainerHeaderSize, kSeekSet) != kContainerHeaderSize) return false;
    FieldReader fields = FieldReader::at(container);
    uint32_t lookahead = 0;
    uint32_t window = 0;
    if (!fields.read_u32_be(lookahead) || !fields.read_u32_be(window)) return false;

    int64_t end = -1;
    if (!payload_end(container, header, end)) return false;
    uint64_t limit = 0;
    if (!expansion_limit(container, end, limit)) return false;

    StreamPtr range = range_stream_new(container, kCompressedPayloadOffset, end);
    if (!range || stream_seek(range.get(), 0, kSeekSet) != 0) return false;
    std::unique_ptr<CrcStream> crc = crc_stream_new(range.get());
    std::unique_ptr<HeatshrinkStream> decompressor = heatshrink_stream_new(
        crc.get(), window_bits_of(window), static_cast<uint8_t>(lookahead & 0xFF), holds_secrets);
    const bool drained = decompressor != nullptr && drain(decompressor.get(), destination, limit, holds_secrets);
    const uint32_t computed = crc ? crc_stream_value(*crc) : kCrc32Initial;
    return drained && (header.footer_flag == 0 || verify_crc_footer(container, computed));
}

LayerOpening open_layer(ByteStream* container, const ContainerHeader& header, const LayerContext& context) {
    return {open_decompressed_stream(container, header, context.holds_secrets)};
}

}  // namespace

uint8_t window_bits_of(uint32_t window_param) {
    return window_param == 0 ? 0 : static_cast<uint8_t>(std::countr_zero(window_param));
}

const ContainerLayer kCompressedLayer = {
    .container_type = kContainerCompressed,
    .name = "compressed",
    .open = open_layer,
    .failure_result = kContainerDecompressionFailure,
    .failure_message = "Could not decompress file",
    .yields_secrets = false,
};

bool decompress_container(ByteStream* container, const ContainerHeader& header, ByteStream* destination) {
    return decompress(container, header, destination, false);
}

StreamPtr open_decompressed_stream(ByteStream* container, const ContainerHeader& header, bool holds_secrets) {
    if (container == nullptr || !accepts_header(header)) return nullptr;
    std::unique_ptr<MemoryStream> content = memory_stream_new();
    if (!content) {
        TM_LOG(kError, "Out of memory while opening the compressed container");
        return nullptr;
    }
    if (holds_secrets) content->hold_secrets();
    if (!decompress(container, header, content.get(), holds_secrets)) return nullptr;
    return content;
}

}  // namespace tracemill
