// The nine frame decoders. Each walks the whole decoder list of its group;
// a channel whose role the event kind does not have fails the record, but
// the walk goes on to the end so every channel is looked at the same way.
// CAN data frames, the bulk of every log, take a shortcut through the
// group's read plan that ends in the same record.
#include "mdf/frame_decoders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/log.h"

namespace tracemill {

namespace {

// A numeric channel's value as the stores take it. An unconverted integer of
// up to 53 bits is its own physical value exactly, so it is kept as an
// integer and the stores skip the round trip through floating point; they give
// the same results either way.
struct ChannelValue {
    bool is_integer;
    uint64_t integer;  // when is_integer
    double real;       // otherwise
};

// The value of a channel whose raw bits are `raw`.
inline ChannelValue value_of(const ChannelDecoder& decoder, bool integer_value, uint64_t raw) {
    if (integer_value) return {true, raw, 0};
    return {false, 0, physical_value(decoder, raw)};
}

inline ChannelValue read_value(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    return value_of(decoder, decoder.integer_value, channel_bits(decoder, record));
}

double as_real(const ChannelValue& value) {
    return value.is_integer ? static_cast<double>(value.integer) : value.real;
}

// Stores of a physical value. Truncation toward zero; values that do not fit
// the integer they are taken as (NaN included) give 0, except for flags where
// anything but a truncated zero is set.
uint8_t as_flag(const ChannelValue& value) {
    if (value.is_integer) return value.integer != 0 ? 1 : 0;
    if (std::isnan(value.real)) return 1;
    return std::trunc(value.real) != 0 ? 1 : 0;
}

uint8_t as_byte_field(const ChannelValue& value) {
    if (value.is_integer) return value.integer <= 2147483647 ? static_cast<uint8_t>(value.integer) : 0;
    const double t = std::trunc(value.real);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return 0;
    return static_cast<uint8_t>(static_cast<int32_t>(t));
}

uint32_t as_id(const ChannelValue& value) {
    if (value.is_integer) return static_cast<uint32_t>(value.integer);  // below 2^53
    const double t = std::trunc(value.real);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(t));
}

uint64_t as_remote_length(const ChannelValue& value) {
    if (value.is_integer) return value.integer < kMaxRemoteDataLength ? value.integer : kMaxRemoteDataLength;
    const double t = std::trunc(value.real);
    if (!(t > 0)) return 0;
    return t >= static_cast<double>(kMaxRemoteDataLength) ? kMaxRemoteDataLength : static_cast<uint64_t>(t);
}

void append(std::vector<uint8_t>& data, const uint8_t* bytes, size_t count) {
    data.insert(data.end(), bytes, bytes + count);
}

// Appends a byte-array channel's bytes: from the signal entry for
// variable-length data, else from the fixed record.
void append_byte_array(const ChannelDecoder& decoder, const RawRecord& raw, std::vector<uint8_t>& data) {
    if (decoder.data_link) {
        const auto signal = raw.signal;
        if (signal.size() <= 4) return;
        uint32_t length;
        std::memcpy(&length, signal.data(), 4);  // little-endian host assumed, as everywhere in the reader
        const size_t available = signal.size() - 4;
        append(data, signal.data() + 4, std::min<size_t>(length, available));
        return;
    }
    if (decoder.bit_count % 8 != 0 || decoder.bit_position % 8 != 0) {
        TM_LOG(kError, "Could not read data");
        return;
    }
    const uint64_t start = decoder.bit_position / 8;
    if (start >= raw.record.size()) return;
    const uint64_t count = std::min<uint64_t>(decoder.bit_count / 8, raw.record.size() - start);
    append(data, raw.record.data() + start, count);
}

// Every event starts from a clean record: the reader reuses one BusRecord,
// so nothing a group lacks may survive from the previous record.
void reset(BusRecord& record) {
    record.timestamp = 0;
    record.bus_channel = 0;
    record.id = 0;
    record.data.clear();
    record.details = BusRecordDetails{};
}

void cut_to_length(std::vector<uint8_t>& data, bool has_length, uint8_t length) {
    // Without a DataLength channel the whole payload stays.
    if (has_length && length < data.size()) data.resize(length);
}

// The field of `role` from the plan's last channel with that role.
inline ChannelValue planned_value(const ChannelReadPlan& plan, ChannelRole role, std::span<const uint8_t> record) {
    const FieldStep& step = plan[role];
    const uint64_t raw = load_planned_field(step.load, record.data(),
                                            [&] { return read_channel_bits(*step.decoder, record); });
    return value_of(*step.decoder, step.integer_value, raw);
}

constexpr uint32_t kCanDataFrameRoles =
    role_bit(ChannelRole::Timestamp) | role_bit(ChannelRole::BusChannel) | role_bit(ChannelRole::Id) |
    role_bit(ChannelRole::Ide) | role_bit(ChannelRole::Dir) | role_bit(ChannelRole::Edl) |
    role_bit(ChannelRole::Esi) | role_bit(ChannelRole::Brs) | role_bit(ChannelRole::Dlc) |
    role_bit(ChannelRole::DataLength);

// CAN data frames are most of the traffic. With the group's read plan each
// field is read once, from the last channel with its role (the list walk
// would overwrite the earlier ones), and whether every numeric role belongs
// to a data frame is one test of the roles present. Gives what the list walk
// gives for every record that decodes.
bool decode_planned_can_data_frame(const RawRecord& raw, const ChannelReadPlan& plan, BusRecord& record) {
    for (const ChannelDecoder* decoder : plan.byte_arrays)
        if (decoder->role == ChannelRole::DataBytes) append_byte_array(*decoder, raw, record.data);
    if ((plan.numeric_roles & ~kCanDataFrameRoles) != 0) return false;

    const uint32_t present = plan.numeric_roles;
    const auto has = [present](ChannelRole role) { return (present & role_bit(role)) != 0; };
    const auto value = [&](ChannelRole role) { return planned_value(plan, role, raw.record); };
    CanDetails& can = record.details.can;
    if (has(ChannelRole::Timestamp)) record.timestamp = as_real(value(ChannelRole::Timestamp));
    if (has(ChannelRole::BusChannel)) record.bus_channel = as_byte_field(value(ChannelRole::BusChannel));
    if (has(ChannelRole::Id)) record.id = as_id(value(ChannelRole::Id));
    if (has(ChannelRole::Ide)) can.ide = as_flag(value(ChannelRole::Ide));
    if (has(ChannelRole::Dir)) can.dir = as_flag(value(ChannelRole::Dir));
    if (has(ChannelRole::Edl)) can.edl = as_flag(value(ChannelRole::Edl));
    if (has(ChannelRole::Esi)) can.esi = as_flag(value(ChannelRole::Esi));
    if (has(ChannelRole::Brs)) can.brs = as_flag(value(ChannelRole::Brs));
    if (has(ChannelRole::Dlc)) can.dlc = as_byte_field(value(ChannelRole::Dlc));
    if (has(ChannelRole::DataLength)) cut_to_length(record.data, true, as_byte_field(value(ChannelRole::DataLength)));
    record.kind = BusRecordKind::CanDataFrame;
    return true;
}

template <BusRecordKind kKind>
bool decode_lin_frame_kind(const RawRecord& raw, BusRecord& record) {
    reset(record);
    bool ok = true;
    bool has_length = false;
    uint8_t length = 0;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        if (decoder.value_kind == ValueKind::Bytes) {
            if (decoder.role == ChannelRole::LinDataBytes) append_byte_array(decoder, raw, record.data);
            else ok = false;
            continue;
        }
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case ChannelRole::Timestamp: record.timestamp = as_real(value); break;
        case ChannelRole::LinBusChannel: record.bus_channel = as_byte_field(value); break;
        case ChannelRole::LinId: record.id = as_id(value); break;
        case ChannelRole::LinDir: record.details.lin.dir = as_real(value) != 0 ? 1 : 0; break;  // NaN counts as set
        case ChannelRole::LinReceivedDataByteCount:
            record.details.lin.received_byte_count = as_byte_field(value);
            break;
        case ChannelRole::LinDataLength:
            has_length = true;
            length = as_byte_field(value);
            break;
        default: ok = false; break;
        }
    }
    if (!ok) return false;
    cut_to_length(record.data, has_length, length);
    record.kind = kKind;
    return true;
}

template <BusRecordKind kKind, bool kHasId>
bool decode_lin_error_kind(const RawRecord& raw, BusRecord& record) {
    reset(record);
    bool ok = true;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case ChannelRole::Timestamp: record.timestamp = as_real(value); break;
        case ChannelRole::LinBusChannel: record.bus_channel = as_byte_field(value); break;
        case ChannelRole::LinId:
            if (kHasId) record.id = as_id(value);
            else ok = false;
            break;
        default: ok = false; break;
        }
    }
    if (!ok) return false;
    record.kind = kKind;
    return true;
}

}  // namespace

bool decode_unsupported(const RawRecord&, BusRecord& record) {
    record.kind = BusRecordKind::Unsupported;
    return false;
}

bool decode_can_data_frame(const RawRecord& raw, BusRecord& record) {
    reset(record);
    if (raw.read_plan && raw.read_plan->record_size == raw.record.size())
        return decode_planned_can_data_frame(raw, *raw.read_plan, record);
    bool ok = true;
    bool has_length = false;
    uint8_t length = 0;
    CanDetails& can = record.details.can;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        if (decoder.value_kind == ValueKind::Bytes) {
            if (decoder.role == ChannelRole::DataBytes) append_byte_array(decoder, raw, record.data);
            continue;
        }
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case ChannelRole::Timestamp: record.timestamp = as_real(value); break;
        case ChannelRole::BusChannel: record.bus_channel = as_byte_field(value); break;
        case ChannelRole::Id: record.id = as_id(value); break;
        case ChannelRole::Ide: can.ide = as_flag(value); break;
        case ChannelRole::Dir: can.dir = as_flag(value); break;
        case ChannelRole::Edl: can.edl = as_flag(value); break;
        case ChannelRole::Esi: can.esi = as_flag(value); break;
        case ChannelRole::Brs: can.brs = as_flag(value); break;
        case ChannelRole::Dlc: can.dlc = as_byte_field(value); break;
        case ChannelRole::DataLength:
            has_length = true;
            length = as_byte_field(value);
            break;
        default: ok = false; break;
        }
    }
    if (!ok) return false;
    cut_to_length(record.data, has_length, length);
    record.kind = BusRecordKind::CanDataFrame;
    return true;
}

bool decode_can_remote_frame(const RawRecord& raw, BusRecord& record) {
    reset(record);
    CanDetails& can = record.details.can;
    can.rtr = 1;
    bool ok = true;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case ChannelRole::Timestamp: record.timestamp = as_real(value); break;
        case ChannelRole::BusChannel: record.bus_channel = as_byte_field(value); break;
        case ChannelRole::Id: record.id = as_id(value); break;
        case ChannelRole::Ide: can.ide = as_flag(value); break;
        case ChannelRole::Dir: can.dir = as_flag(value); break;
        case ChannelRole::Dlc: can.dlc = as_byte_field(value); break;
        case ChannelRole::DataLength: record.data.assign(as_remote_length(value), 0); break;
        default: ok = false; break;
        }
    }
    if (!ok) return false;
    record.kind = BusRecordKind::CanRemoteFrame;
    return true;
}

bool decode_can_error_frame(const RawRecord& raw, BusRecord& record) {
    reset(record);
    bool ok = true;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case ChannelRole::Timestamp: record.timestamp = as_real(value); break;
        case ChannelRole::BusChannel: record.details.error.bus_channel = as_byte_field(value); break;
        case ChannelRole::ErrorType: {
            const uint8_t type = as_byte_field(value);
            record.details.error.error_type = type >= 1 && type <= 5 ? type : 0;
            break;
        }
        default: ok = false; break;
        }
    }
    if (!ok) return false;
    record.kind = BusRecordKind::CanErrorFrame;
    return true;
}

bool decode_lin_frame(const RawRecord& raw, BusRecord& record) {
    return decode_lin_frame_kind<BusRecordKind::LinFrame>(raw, record);
}

bool decode_lin_checksum_error(const RawRecord& raw, BusRecord& record) {
    return decode_lin_frame_kind<BusRecordKind::LinChecksumError>(raw, record);
}

bool decode_lin_receive_error(const RawRecord& raw, BusRecord& record) {
    return decode_lin_error_kind<BusRecordKind::LinReceiveError, true>(raw, record);
}

bool decode_lin_transmission_error(const RawRecord& raw, BusRecord& record) {
    return decode_lin_error_kind<BusRecordKind::LinTransmissionError, true>(raw, record);
}

bool decode_lin_sync_error(const RawRecord& raw, BusRecord& record) {
    return decode_lin_error_kind<BusRecordKind::LinSyncError, false>(raw, record);
}

namespace {

struct KindDecoder {
    BusRecordKind kind;
    FrameDecoder decoder;
};

constexpr KindDecoder kKindDecoders[] = {
    {BusRecordKind::Unsupported, decode_unsupported},
    {BusRecordKind::CanDataFrame, decode_can_data_frame},
    {BusRecordKind::CanRemoteFrame, decode_can_remote_frame},
    {BusRecordKind::CanErrorFrame, decode_can_error_frame},
    {BusRecordKind::LinFrame, decode_lin_frame},
    {BusRecordKind::LinChecksumError, decode_lin_checksum_error},
    {BusRecordKind::LinReceiveError, decode_lin_receive_error},
    {BusRecordKind::LinTransmissionError, decode_lin_transmission_error},
    {BusRecordKind::LinSyncError, decode_lin_sync_error},
};

}  // namespace

FrameDecoder frame_decoder_for(BusRecordKind kind) {
    for (const KindDecoder& entry : kKindDecoders)
        if (entry.kind == kind) return entry.decoder;
    return decode_unsupported;
}

BusRecordKind frame_decoder_kind(FrameDecoder decoder) {
    for (const KindDecoder& entry : kKindDecoders)
        if (entry.decoder == decoder) return entry.kind;
    return BusRecordKind::Unsupported;
}

}  // namespace tracemill
