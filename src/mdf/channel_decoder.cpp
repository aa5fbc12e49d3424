// Building the channel decoders of a channel group: value kinds from data
// types, conversions from CC blocks, roles from the bus kinds' names.
#include "mdf/channel_decoder.h"

#include <array>
#include <string_view>

#include "common/log.h"
#include "mdf/blocks.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace {

// MDF4 data type codes the decoders can read.
constexpr uint8_t kUnsignedLe = 0;
constexpr uint8_t kUnsignedBe = 1;
constexpr uint8_t kFloatLe = 4;
constexpr uint8_t kFloatBe = 5;
constexpr uint8_t kByteArray = 10;

void set_value_kind(ChannelDecoder& decoder, uint8_t data_type) {
    switch (data_type) {
    case kUnsignedLe: decoder.value_kind = ValueKind::Unsigned; decoder.little_endian = true; return;
    case kUnsignedBe: decoder.value_kind = ValueKind::Unsigned; decoder.little_endian = false; return;
    case kFloatLe: decoder.value_kind = ValueKind::Float; decoder.little_endian = true; return;
    case kFloatBe: decoder.value_kind = ValueKind::Float; decoder.little_endian = false; return;
    case kByteArray: decoder.value_kind = ValueKind::Bytes; decoder.little_endian = true; return;
    default:
        // Still decoded, as an unsigned big-endian integer.
        TM_LOG(kWarn, "Unsupported channel data type: %d", data_type <= kByteArray ? data_type + 1 : 0);
        decoder.value_kind = ValueKind::Unsigned;
        decoder.little_endian = false;
        return;
    }
}

}  // namespace

Conversion make_conversion(const CcBlock* block) {
    if (!block) return Conversion{};
    return make_conversion(block->conversion_type, block->values.data(), block->values.size());
}

void add_channel_decoder(const CnBlock& channel, ChannelDecoderList& list) {
    ChannelDecoder decoder;
    if (const TextBlock* name = block_as<TxBlock>(channel.name)) decoder.name = name->text;
    decoder.role = channel_role(decoder.name);
    // Computed in 32 bits, as the offsets are stored.
    decoder.bit_position = static_cast<uint32_t>(channel.byte_offset * 8u + channel.bit_offset);
    decoder.bit_count = channel.bit_count;
    set_value_kind(decoder, channel.data_type);
    decoder.conversion = make_conversion(block_as<CcBlock>(channel.conversion));
    if (channel.channel_type == CnBlock::kTypeVariableLength) decoder.data_link = channel.data;
    list.push_back(std::move(decoder));
}

uint64_t read_channel_bits(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    return read_bits(record, decoder.bit_position, decoder.bit_count, decoder.little_endian);
}

namespace {

// Whether the timestamp is read as raw × factor + offset (linear_time), and by which.
void plan_linear_time(ChannelReadPlan& plan) {
    if ((plan.numeric_roles & role_bit(kTimestampRole)) == 0) return;
    const FieldStep& step = plan[kTimestampRole];
    const ChannelDecoder& decoder = *step.decoder;
    if (step.load.method != FieldLoad::Method::Word || step.load.big_endian || decoder.value_kind == ValueKind::Float)
        return;
    if (const auto* linear = dynamic_cast<const LinearConversion*>(decoder.conversion.rule())) {
        plan.time_factor = linear->factor();
        plan.time_offset = linear->offset();
    } else if (!decoder.conversion.is_identity()) {
        return;
    }
    plan.linear_time = true;
}

}  // namespace

ChannelReadPlan plan_channel_reads(ChannelDecoderList& decoders, uint64_t record_size) {
    // Doubles hold every integer of up to 53 bits exactly.
    constexpr uint64_t kExactIntegerBits = 53;
    ChannelReadPlan plan;
    plan.record_size = record_size;
    for (ChannelDecoder& decoder : decoders) {
        decoder.load = plan_field_load(decoder.bit_position, decoder.bit_count, decoder.little_endian, record_size);
        decoder.load_record_size = record_size;
        decoder.integer_value = decoder.value_kind == ValueKind::Unsigned && decoder.conversion.is_identity() &&
                                decoder.bit_count <= kExactIntegerBits;
        if (decoder.value_kind == ValueKind::Bytes) {
            plan.byte_arrays.push_back(&decoder);
            continue;
        }
        plan.numeric_roles |= role_bit(decoder.role);
        plan.last_with_role[decoder.role] = {decoder.load, decoder.integer_value, &decoder};
    }
    plan.integer_words = true;
    for (ChannelRole role = 0; role < kMaxChannelRoles; ++role) {
        if (role == kTimestampRole || (plan.numeric_roles & role_bit(role)) == 0) continue;
        const FieldStep& step = plan.last_with_role[role];
        if (step.load.method != FieldLoad::Method::Word || step.load.big_endian || !step.integer_value)
            plan.integer_words = false;
    }
    plan_linear_time(plan);
    return plan;
}

}  // namespace tracemill
