// How one channel's value is found in a record, converted and given a role,
// and the per-group frame decoder that turns a record into a BusRecord.
//
// Decoder lists are built when a channel group is loaded; per record a frame
// decoder only walks the list, reads bits and applies conversions.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mdf/bit_reader.h"
#include "mdf/bus_record.h"
#include "mdf/conversion.h"

namespace tracemill {

struct MdfBlock;
struct CgBlock;
struct CnBlock;
struct RawRecord;

enum class ValueKind : int32_t { Unsigned = 0, Bytes = 1, Float = 2 };

enum class ChannelRole : int32_t {
    NoRole = 0,
    Brs = 1,
    BusChannel = 2,
    DataBytes = 3,
    DataLength = 4,
    Dir = 5,
    Dlc = 6,
    Edl = 7,
    ErrorType = 8,
    Esi = 9,
    Id = 10,
    Ide = 11,
    LinBusChannel = 12,
    LinDataBytes = 13,
    LinDataLength = 14,
    LinDir = 15,
    LinId = 16,
    LinReceivedDataByteCount = 17,
    Timestamp = 18,
};

struct ChannelDecoder {
    uint64_t bit_position = 0;  // first bit of the value, record id excluded
    uint64_t bit_count = 0;
    ValueKind value_kind = ValueKind::Unsigned;
    bool little_endian = false;
    Conversion conversion;
    std::string name;
    ChannelRole role = ChannelRole::NoRole;
    // Where variable-length data comes from (an SD block or a VLSD channel
    // group); only set for variable-length signal data channels.
    std::shared_ptr<MdfBlock> data_link;
};

using ChannelDecoderList = std::vector<ChannelDecoder>;

// Fills `record` from one raw record; false when the record cannot be decoded
// (then `kind` is left as it was, except for the Unsupported decoder).
using FrameDecoder = bool (*)(const RawRecord& raw, BusRecord& record);

// Role of a channel from its exact name; NoRole for names not in the table.
ChannelRole channel_role(std::string_view name);

// Rebuilds the group's `decoders` from its channels, in list order.
void build_channel_decoders(CgBlock& group);

// Appends the decoders of one channel: its composition members (recursively)
// when it has any, else one decoder for the channel itself.
void add_channel_decoders(const CnBlock& channel, ChannelDecoderList& list);

// The frame decoder of a group from the one prefix ("CAN_DataFrame", ...) its
// channel names share; the Unsupported decoder otherwise.
FrameDecoder select_frame_decoder(const ChannelDecoderList& decoders);

// The physical value of a numeric channel in `record`. Floats of 32 bits are
// single-precision values; other float widths are taken as the bit pattern of
// a double.
inline double channel_value(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    const uint64_t raw = read_bits(record, decoder.bit_position, decoder.bit_count, decoder.little_endian);
    double value;
    if (decoder.value_kind != ValueKind::Float) value = static_cast<double>(raw);
    else if (decoder.bit_count == 32) value = std::bit_cast<float>(static_cast<uint32_t>(raw));
    else value = std::bit_cast<double>(raw);
    return decoder.conversion.apply(value);
}

}  // namespace tracemill
