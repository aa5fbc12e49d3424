// Building the channel decoders of a channel group: roles from channel
// names, value kinds from data types, conversions from CC blocks, and the
// choice of the group's frame decoder.
#include "mdf/channel_decoder.h"

#include <array>
#include <string_view>

#include "common/log.h"
#include "mdf/blocks.h"
#include "mdf/frame_decoders.h"

namespace tracemill {

namespace {

struct RoleName {
    std::string_view name;
    ChannelRole role;
};

// Whole, case-sensitive channel names. The LIN error groups name their
// channels after themselves; they take the roles of the LIN frame channels
// so that their records decode.
constexpr RoleName kRoleNames[] = {
    {"CAN_DataFrame.BRS", ChannelRole::Brs},
    {"CAN_DataFrame.BusChannel", ChannelRole::BusChannel},
    {"CAN_RemoteFrame.BusChannel", ChannelRole::BusChannel},
    {"CAN_ErrorFrame.BusChannel", ChannelRole::BusChannel},
    {"CAN_DataFrame.DataBytes", ChannelRole::DataBytes},
    {"CAN_DataFrame.DataLength", ChannelRole::DataLength},
    {"CAN_RemoteFrame.DataLength", ChannelRole::DataLength},
    {"CAN_DataFrame.Dir", ChannelRole::Dir},
    {"CAN_RemoteFrame.Dir", ChannelRole::Dir},
    {"CAN_DataFrame.DLC", ChannelRole::Dlc},
    {"CAN_RemoteFrame.DLC", ChannelRole::Dlc},
    {"CAN_DataFrame.EDL", ChannelRole::Edl},
    {"CAN_ErrorFrame.ErrorType", ChannelRole::ErrorType},
    {"CAN_DataFrame.ESI", ChannelRole::Esi},
    {"CAN_DataFrame.ID", ChannelRole::Id},
    {"CAN_RemoteFrame.ID", ChannelRole::Id},
    {"CAN_DataFrame.IDE", ChannelRole::Ide},
    {"CAN_RemoteFrame.IDE", ChannelRole::Ide},
    {"LIN_Frame.BusChannel", ChannelRole::LinBusChannel},
    {"LIN_Frame.DataBytes", ChannelRole::LinDataBytes},
    {"LIN_Frame.DataLength", ChannelRole::LinDataLength},
    {"LIN_Frame.Dir", ChannelRole::LinDir},
    {"LIN_Frame.ID", ChannelRole::LinId},
    {"LIN_Frame.ReceivedDataByteCount", ChannelRole::LinReceivedDataByteCount},
    {"Timestamp", ChannelRole::Timestamp},
    {"LIN_ChecksumError.BusChannel", ChannelRole::LinBusChannel},
    {"LIN_ChecksumError.DataBytes", ChannelRole::LinDataBytes},
    {"LIN_ChecksumError.DataLength", ChannelRole::LinDataLength},
    {"LIN_ChecksumError.Dir", ChannelRole::LinDir},
    {"LIN_ChecksumError.ID", ChannelRole::LinId},
    {"LIN_ChecksumError.ReceivedDataByteCount", ChannelRole::LinReceivedDataByteCount},
    {"LIN_ReceiveError.BusChannel", ChannelRole::LinBusChannel},
    {"LIN_ReceiveError.ID", ChannelRole::LinId},
    {"LIN_TransmissionError.BusChannel", ChannelRole::LinBusChannel},
    {"LIN_TransmissionError.ID", ChannelRole::LinId},
    {"LIN_SyncError.BusChannel", ChannelRole::LinBusChannel},
};

struct GroupDecoder {
    std::string_view prefix;
    BusRecordKind kind;
};

constexpr GroupDecoder kGroupDecoders[] = {
    {"CAN_DataFrame", BusRecordKind::CanDataFrame},
    {"CAN_RemoteFrame", BusRecordKind::CanRemoteFrame},
    {"CAN_ErrorFrame", BusRecordKind::CanErrorFrame},
    {"LIN_Frame", BusRecordKind::LinFrame},
    {"LIN_ChecksumError", BusRecordKind::LinChecksumError},
    {"LIN_ReceiveError", BusRecordKind::LinReceiveError},
    {"LIN_TransmissionError", BusRecordKind::LinTransmissionError},
    {"LIN_SyncError", BusRecordKind::LinSyncError},
};

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

ChannelRole channel_role(std::string_view name) {
    for (const RoleName& entry : kRoleNames)
        if (entry.name == name) return entry.role;
    return ChannelRole::NoRole;
}

Conversion make_conversion(const CcBlock* block) {
    if (!block) return Conversion{};
    return make_conversion(block->conversion_type, block->values.data(), block->values.size());
}

void add_channel_decoders(const CnBlock& channel, ChannelDecoderList& list) {
    if (!channel.composition.empty()) {
        for (const BlockRef& member : channel.composition)
            if (const CnBlock* member_channel = block_as<CnBlock>(member)) add_channel_decoders(*member_channel, list);
        return;
    }
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
        plan.last_with_role[static_cast<size_t>(decoder.role)] = {decoder.load, decoder.integer_value, &decoder};
    }
    return plan;
}

FrameDecoder select_frame_decoder(const ChannelDecoderList& decoders) {
    std::string_view prefix;
    bool found = false;
    for (const ChannelDecoder& decoder : decoders) {
        const size_t dot = decoder.name.find('.');
        if (dot == std::string::npos) continue;
        const std::string_view candidate = std::string_view(decoder.name).substr(0, dot);
        if (!found) {
            prefix = candidate;
            found = true;
        } else if (candidate != prefix) {
            return decode_unsupported;  // several prefixes
        }
    }
    if (!found) return decode_unsupported;
    for (const GroupDecoder& entry : kGroupDecoders)
        if (entry.prefix == prefix) return frame_decoder_for(entry.kind);
    return decode_unsupported;
}

}  // namespace tracemill
