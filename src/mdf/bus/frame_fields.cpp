// The frame decoders' reading of payloads kept in the fixed record.
#include "mdf/bus/frame_fields.h"

namespace tracemill {

void append_record_bytes(const ChannelDecoder& decoder, std::span<const uint8_t> record, Payload& data) {
    if (decoder.bit_count % 8 != 0 || decoder.bit_position % 8 != 0) {
        TM_LOG(kError, "Could not read data");
        return;
    }
    const uint64_t start = decoder.bit_position / 8;
    if (start >= record.size()) return;
    const uint64_t count = std::min<uint64_t>(decoder.bit_count / 8, record.size() - start);
    data.append(record.data() + start, count);
}

}  // namespace tracemill
