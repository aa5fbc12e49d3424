// LIN: the events, the names of their channels' roles, and their frame
// decoders. The error groups name their channels after themselves; checksum
// errors carry a whole frame, the others only where and when.
#include "mdf/bus/lin.h"

#include "mdf/bus/frame_fields.h"

namespace tracemill {

namespace {

using namespace lin;

constexpr RoleName kFrameRoles[] = {
    {"LIN_Frame.BusChannel", BusChannel},
    {"LIN_Frame.DataBytes", DataBytes},
    {"LIN_Frame.DataLength", DataLength},
    {"LIN_Frame.Dir", Dir},
    {"LIN_Frame.ID", Id},
    {"LIN_Frame.ReceivedDataByteCount", ReceivedDataByteCount},
};

constexpr RoleName kChecksumErrorRoles[] = {
    {"LIN_ChecksumError.BusChannel", BusChannel},
    {"LIN_ChecksumError.DataBytes", DataBytes},
    {"LIN_ChecksumError.DataLength", DataLength},
    {"LIN_ChecksumError.Dir", Dir},
    {"LIN_ChecksumError.ID", Id},
    {"LIN_ChecksumError.ReceivedDataByteCount", ReceivedDataByteCount},
};

constexpr RoleName kReceiveErrorRoles[] = {
    {"LIN_ReceiveError.BusChannel", BusChannel},
    {"LIN_ReceiveError.ID", Id},
};

constexpr RoleName kTransmissionErrorRoles[] = {
    {"LIN_TransmissionError.BusChannel", BusChannel},
    {"LIN_TransmissionError.ID", Id},
};

constexpr RoleName kSyncErrorRoles[] = {
    {"LIN_SyncError.BusChannel", BusChannel},
};

template <BusRecordKind kKind>
bool decode_frame_kind(const RawRecord& raw, BusRecord& record) {
    reset(record);
    bool ok = true;
    bool has_length = false;
    uint8_t length = 0;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        if (decoder.value_kind == ValueKind::Bytes) {
            if (decoder.role == DataBytes) append_byte_array(decoder, raw, record.data);
            else ok = false;
            continue;
        }
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case Timestamp: record.timestamp = as_real(value); break;
        case BusChannel: record.bus_channel = as_byte_field(value); break;
        case Id: record.id = as_id(value); break;
        case Dir: record.details.lin.dir = as_real(value) != 0 ? 1 : 0; break;  // NaN counts as set
        case ReceivedDataByteCount: record.details.lin.received_byte_count = as_byte_field(value); break;
        case DataLength:
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
bool decode_error_kind(const RawRecord& raw, BusRecord& record) {
    reset(record);
    bool ok = true;
    for (const ChannelDecoder& decoder : *raw.decoders) {
        const ChannelValue value = read_value(decoder, raw.record);
        switch (decoder.role) {
        case Timestamp: record.timestamp = as_real(value); break;
        case BusChannel: record.bus_channel = as_byte_field(value); break;
        case Id:
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

constexpr BusEvent kEvents[] = {
    {"LIN_Frame", BusRecordKind::LinFrame, decode_lin_frame, kFrameRoles},
    {"LIN_ChecksumError", BusRecordKind::LinChecksumError, decode_lin_checksum_error, kChecksumErrorRoles},
    {"LIN_ReceiveError", BusRecordKind::LinReceiveError, decode_lin_receive_error, kReceiveErrorRoles},
    {"LIN_TransmissionError", BusRecordKind::LinTransmissionError, decode_lin_transmission_error,
     kTransmissionErrorRoles},
    {"LIN_SyncError", BusRecordKind::LinSyncError, decode_lin_sync_error, kSyncErrorRoles},
};

}  // namespace

namespace lin {
constexpr uint8_t kSourceBusType = 3;
const BusKind kBusKind = {"LIN", kSourceBusType, kEvents};
}  // namespace lin

bool decode_lin_frame(const RawRecord& raw, BusRecord& record) {
    return decode_frame_kind<BusRecordKind::LinFrame>(raw, record);
}

bool decode_lin_checksum_error(const RawRecord& raw, BusRecord& record) {
    return decode_frame_kind<BusRecordKind::LinChecksumError>(raw, record);
}

bool decode_lin_receive_error(const RawRecord& raw, BusRecord& record) {
    return decode_error_kind<BusRecordKind::LinReceiveError, true>(raw, record);
}

bool decode_lin_transmission_error(const RawRecord& raw, BusRecord& record) {
    return decode_error_kind<BusRecordKind::LinTransmissionError, true>(raw, record);
}

bool decode_lin_sync_error(const RawRecord& raw, BusRecord& record) {
    return decode_error_kind<BusRecordKind::LinSyncError, false>(raw, record);
}

}  // namespace tracemill
