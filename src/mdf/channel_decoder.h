// How one channel's value is found in a record, converted and given a role,
// and the per-group frame decoder that turns a record into a BusRecord.
//
// Decoder lists are built once per channel group (group_plan.h); per record a
// frame decoder only reads bits and applies conversions.
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
#include "mdf/field_load.h"

namespace tracemill {

struct MdfBlock;
struct CnBlock;
struct RawRecord;

enum class ValueKind : int32_t { Unsigned = 0, Bytes = 1, Float = 2 };

// A channel's role in its group's bus event: what the frame decoder takes it
// for. Each bus kind numbers its own roles (mdf/bus/); every kind has no role
// as 0 and the timestamp as 1. A read plan keeps roles as bits of one word.
using ChannelRole = uint8_t;
inline constexpr ChannelRole kNoRole = 0;
inline constexpr ChannelRole kTimestampRole = 1;
inline constexpr size_t kMaxChannelRoles = 16;
static_assert(kMaxChannelRoles <= 32, "roles are bits of the read plan's 32-bit word");

struct ChannelDecoder {
    uint64_t bit_position = 0;  // first bit of the value, record id excluded
    uint64_t bit_count = 0;
    ValueKind value_kind = ValueKind::Unsigned;
    bool little_endian = false;
    Conversion conversion;
    std::string name;
    ChannelRole role = kNoRole;
    // Where variable-length data comes from (an SD block or a VLSD channel
    // group); only set for variable-length signal data channels.
    std::shared_ptr<MdfBlock> data_link;

    // Worked out from the fields above when the group's decoders are built.
    FieldLoad load;                // the bits in a record of the group's size,
    uint64_t load_record_size = 0; // which is this
    bool integer_value = false;    // the physical value is the raw integer, exactly
};

using ChannelDecoderList = std::vector<ChannelDecoder>;

// One numeric channel of a group, reduced to what reading it per record takes.
struct FieldStep {
    FieldLoad load;
    bool integer_value = false;
    const ChannelDecoder* decoder = nullptr;  // none: no numeric channel has the role
};
static_assert(sizeof(FieldStep) <= 16, "a group's steps should take few cache lines");

// What the frame decoders that keep byte arrays apart from numbers need of a
// group's channels, worked out with its decoders. A numeric field is stored
// from each channel with its role in list order, so only the last channel of
// each role decides the field: the plan keeps that one per role, plus the
// set of roles present, which settles at once whether a frame decoder accepts
// the group. It holds for records of `record_size` bytes only and points
// into the decoder list it was made from.
struct ChannelReadPlan {
    uint64_t record_size = 0;
    uint32_t numeric_roles = 0;  // bit r set: a numeric channel has role r
    // Every role but the timestamp is an unconverted integer in a planned
    // little-endian word: the usual layout, read without asking per field.
    bool integer_words = false;
    // The timestamp is an integer in a planned little-endian word whose
    // conversion is linear (the identity too): raw × time_factor +
    // time_offset, as the conversion computes it, without asking for its rule.
    bool linear_time = false;
    double time_factor = 1;
    double time_offset = 0;
    FieldStep last_with_role[kMaxChannelRoles];
    std::vector<const ChannelDecoder*> byte_arrays;  // in list order

    const FieldStep& operator[](ChannelRole role) const { return last_with_role[role]; }
};

constexpr uint32_t role_bit(ChannelRole role) { return uint32_t{1} << role; }

// Fills `record` from one raw record; false when the record cannot be decoded
// (then `kind` is left as it was, except for the Unsupported decoder).
using FrameDecoder = bool (*)(const RawRecord& raw, BusRecord& record);

// Appends the decoder of one channel, composition left aside (the group's
// plan expands composed channels into their members).
void add_channel_decoder(const CnBlock& channel, ChannelDecoderList& list);

// Works out `load` and `integer_value` of every decoder for records of
// `record_size` bytes (record id excluded), and the group's read plan.
ChannelReadPlan plan_channel_reads(ChannelDecoderList& decoders, uint64_t record_size);

// The channel's raw bits in `record` through the general bit reader, for
// records its load was not planned for. Kept out of line so that the planned
// path stays small enough to inline.
uint64_t read_channel_bits(const ChannelDecoder& decoder, std::span<const uint8_t> record);

// The channel's raw bits in `record`.
inline uint64_t channel_bits(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    return load_field(decoder.load, decoder.load_record_size, record,
                      [&] { return read_channel_bits(decoder, record); });
}

// The physical value of a channel whose raw bits are `raw`. Floats of 32 bits
// are single-precision values; other float widths are taken as the bit
// pattern of a double.
inline double physical_value(const ChannelDecoder& decoder, uint64_t raw) {
    double value;
    if (decoder.value_kind != ValueKind::Float) value = static_cast<double>(raw);
    else if (decoder.bit_count == 32) value = std::bit_cast<float>(static_cast<uint32_t>(raw));
    else value = std::bit_cast<double>(raw);
    return decoder.conversion.apply(value);
}

// The physical value of a numeric channel in `record`.
inline double channel_value(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    return physical_value(decoder, channel_bits(decoder, record));
}

}  // namespace tracemill
