// CAN: the events, the names of their channels' roles, and their frame
// decoders. Data frames are most of every log: their decoder reads each field
// once, through the group's read plan, from the last channel with its role.
#include "mdf/bus/can.h"

#include "mdf/bus/frame_fields.h"

namespace tracemill {

namespace {

using namespace can;

constexpr RoleName kDataFrameRoles[] = {
    {"CAN_DataFrame.BusChannel", BusChannel}, {"CAN_DataFrame.ID", Id},
    {"CAN_DataFrame.IDE", Ide},               {"CAN_DataFrame.Dir", Dir},
    {"CAN_DataFrame.EDL", Edl},               {"CAN_DataFrame.ESI", Esi},
    {"CAN_DataFrame.BRS", Brs},               {"CAN_DataFrame.DLC", Dlc},
    {"CAN_DataFrame.DataLength", DataLength}, {"CAN_DataFrame.DataBytes", DataBytes},
};

constexpr RoleName kRemoteFrameRoles[] = {
    {"CAN_RemoteFrame.BusChannel", BusChannel}, {"CAN_RemoteFrame.ID", Id},
    {"CAN_RemoteFrame.IDE", Ide},               {"CAN_RemoteFrame.Dir", Dir},
    {"CAN_RemoteFrame.DLC", Dlc},               {"CAN_RemoteFrame.DataLength", DataLength},
};

constexpr RoleName kErrorFrameRoles[] = {
    {"CAN_ErrorFrame.BusChannel", BusChannel},
    {"CAN_ErrorFrame.ErrorType", ErrorType},
};

// The numeric roles of a data frame: a numeric channel with any other role
// fails the record.
constexpr uint32_t kDataFrameNumericRoles = role_bits(kDataFrameRoles) & ~role_bit(DataBytes);

uint64_t as_remote_length(const ChannelValue& value) {
    if (value.is_integer) return value.integer < kMaxRemoteDataLength ? value.integer : kMaxRemoteDataLength;
    const double t = std::trunc(value.real);
    if (!(t > 0)) return 0;
    return t >= static_cast<double>(kMaxRemoteDataLength) ? kMaxRemoteDataLength : static_cast<uint64_t>(t);
}

// How a data frame's fields are read: each channel the general way (the
// record is not of the planned size), by its planned load, or, when every
// field but the timestamp is an unconverted integer in a planned
// little-endian word (integer_words, the loggers' own layout), by that word
// alone with nothing asked per field. The loggers' groups have every role:
// then not even whether a field is there is asked (AllIntegerWords).
enum class FieldReads { General, Planned, IntegerWords, AllIntegerWords };

// The data frame from the plan's last channel of each role.
template <FieldReads kReads>
bool decode_data_frame(const RawRecord& raw, const ChannelReadPlan& plan, BusRecord& record) {
    for (const ChannelDecoder* decoder : plan.byte_arrays)
        if (decoder->role == DataBytes) append_byte_array(*decoder, raw, record.data);
    if ((plan.numeric_roles & ~kDataFrameNumericRoles) != 0) return false;

    const uint32_t present = plan.numeric_roles;
    const auto has = [present](ChannelRole role) {
        return kReads == FieldReads::AllIntegerWords || (present & role_bit(role)) != 0;
    };
    // Held apart from `raw`, which the stores into `record` could otherwise
    // change as far as the compiler knows: it would load the view per field.
    const std::span<const uint8_t> bytes = raw.record;
    const auto value = [&](ChannelRole role) {
        if constexpr (kReads == FieldReads::General) return read_value(*plan[role].decoder, bytes);
        else if constexpr (kReads == FieldReads::Planned) return planned_value(plan, role, bytes);
        else return integer_word_value(plan, role, bytes);
    };
    // In the integer-word modes the timestamp, which is no integer word, is read by planned_time.
    const auto timestamp = [&] {
        if constexpr (kReads == FieldReads::General || kReads == FieldReads::Planned) return as_real(value(Timestamp));
        else return planned_time(plan, bytes);
    };
    CanDetails& can = record.details.can;
    if (has(Timestamp)) record.timestamp = timestamp();
    if (has(BusChannel)) record.bus_channel = as_byte_field(value(BusChannel));
    if (has(Id)) record.id = as_id(value(Id));
    if (has(Ide)) can.ide = as_flag(value(Ide));
    if (has(Dir)) can.dir = as_flag(value(Dir));
    if (has(Edl)) can.edl = as_flag(value(Edl));
    if (has(Esi)) can.esi = as_flag(value(Esi));
    if (has(Brs)) can.brs = as_flag(value(Brs));
    if (has(Dlc)) can.dlc = as_byte_field(value(Dlc));
    if (has(DataLength)) cut_to_length(record.data, true, as_byte_field(value(DataLength)));
    record.kind = BusRecordKind::CanDataFrame;
    return true;
}

constexpr BusEvent kEvents[] = {
    {"CAN_DataFrame", BusRecordKind::CanDataFrame, decode_can_data_frame, kDataFrameRoles},
    {"CAN_RemoteFrame", BusRecordKind::CanRemoteFrame, decode_can_remote_frame, kRemoteFrameRoles},
    {"CAN_ErrorFrame", BusRecordKind::CanErrorFrame, decode_can_error_frame, kErrorFrameRoles},
};

}  // namespace

namespace can {
constexpr uint8_t kSourceBusType = 2;
const BusKind kBusKind = {"CAN", kSourceBusType, kEvents};
}  // namespace can

bool decode_can_data_frame(const RawRecord& raw, BusRecord& record) {
    reset(record);
    const ChannelReadPlan& plan = *raw.read_plan;
    if (plan.record_size != raw.record.size()) return decode_data_frame<FieldReads::General>(raw, plan, record);
    if (plan.integer_words) {
        if ((plan.numeric_roles & kDataFrameNumericRoles) == kDataFrameNumericRoles)
            return decode_data_frame<FieldReads::AllIntegerWords>(raw, plan, record);
        return decode_data_frame<FieldReads::IntegerWords>(raw, plan, record);
    }
    return decode_data_frame<FieldReads::Planned>(raw, plan, record);
}

bool decode_can_remote_frame(const RawRecord& raw, BusRecord& record) {
    reset(record);
    CanDetails& can = record.details.can;
    can.rtr = 1;
    bool ok = true;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case Timestamp: record.timestamp = as_real(value); break;
        case BusChannel: record.bus_channel = as_byte_field(value); break;
        case Id: record.id = as_id(value); break;
        case Ide: can.ide = as_flag(value); break;
        case Dir: can.dir = as_flag(value); break;
        case Dlc: can.dlc = as_byte_field(value); break;
        case DataLength: record.data.fill(as_remote_length(value), 0); break;
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
        case Timestamp: record.timestamp = as_real(value); break;
        case BusChannel: record.details.error.bus_channel = as_byte_field(value); break;
        case ErrorType: {
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

}  // namespace tracemill
