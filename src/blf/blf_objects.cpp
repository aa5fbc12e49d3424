// Bus records as binary log objects: one small function per object kind,
// each filling the fields of its layout in blf_layout.h.
#include "blf/blf_objects.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "blf/blf_layout.h"

namespace tracemill::blf {
namespace {

// Base header and version 1 object header of an object of `size` bytes; the
// fields after them start zeroed.
uint8_t* begin_object(uint8_t* out, ObjectType type, size_t size, uint64_t offset_ns) {
    std::memcpy(out, "LOBJ", 4);
    put_u16(out + 4, kObjectHeaderSize);
    put_u16(out + 6, 1);
    put_u32(out + 8, static_cast<uint32_t>(size));
    put_u32(out + 12, static_cast<uint32_t>(type));
    put_u32(out + 16, kTimeOneNanosecond);
    put_u32(out + 20, 0);  // client index, object version
    put_u64(out + 24, offset_ns);
    uint8_t* fields = out + kObjectHeaderSize;
    std::memset(fields, 0, size - kObjectHeaderSize);
    return fields;
}

void copy_bytes(uint8_t* out, const Payload& data, size_t length) {
    if (length > 0) std::memcpy(out, data.data(), length);
}

uint32_t can_id(const BusRecord& record) {
    return record.details.can.ide ? (record.id | kExtendedId) : record.id;
}

size_t can_message(uint8_t* out, const BusRecord& record, uint64_t offset_ns) {
    const CanDetails& can = record.details.can;
    uint8_t* fields = begin_object(out, ObjectType::CanMessage2, kCanMessage2Size, offset_ns);
    put_u16(fields, record.bus_channel);
    fields[2] = static_cast<uint8_t>((can.dir ? kCanTransmitted : 0) | (can.rtr ? kCanRemote : 0));
    fields[3] = can.dlc;
    put_u32(fields + 4, can_id(record));
    copy_bytes(fields + 8, record.data, std::min<size_t>(record.data.size(), 8));
    return kCanMessage2Size;
}

size_t can_fd_message(uint8_t* out, const BusRecord& record, uint64_t offset_ns) {
    const CanDetails& can = record.details.can;
    const size_t length = std::min<size_t>(record.data.size(), 64);
    const size_t size = kObjectHeaderSize + kCanFdFieldsSize + (length + 3) / 4 * 4;
    uint8_t* fields = begin_object(out, ObjectType::CanFdMessage64, size, offset_ns);
    fields[0] = record.bus_channel;
    fields[1] = can.dlc;
    fields[2] = static_cast<uint8_t>(length);
    put_u32(fields + 4, can_id(record));
    put_u32(fields + 12, (can.edl ? kFdEdl : 0) | (can.brs ? kFdBrs : 0) | (can.esi ? kFdEsi : 0));
    fields[34] = can.dir;
    copy_bytes(fields + kCanFdFieldsSize, record.data, length);
    return size;
}

// The controller's error code for each logged error type (1 bit, 2 form,
// 3 stuff, 4 CRC, 5 acknowledgement); type 0 is not known and gets none.
constexpr uint16_t kErrorCodes[] = {0, 0, 1, 2, 4, 7};

size_t can_error(uint8_t* out, const BusRecord& record, uint64_t offset_ns) {
    const CanErrorDetails& error = record.details.error;
    uint8_t* fields = begin_object(out, ObjectType::CanErrorExt, kCanErrorExtSize, offset_ns);
    put_u16(fields, error.bus_channel);
    if (error.error_type >= 1 && error.error_type <= 5) {
        put_u32(fields + 4, kErrorCodeValid);
        const uint16_t acknowledged = error.error_type == 5 ? 0 : kErrorAcknowledged;
        put_u16(fields + 20, static_cast<uint16_t>(kErrorCodes[error.error_type] << 6 | acknowledged));
    }
    return kCanErrorExtSize;
}

// LIN frames and checksum errors share one layout.
size_t lin_message(uint8_t* out, ObjectType type, const BusRecord& record, uint64_t offset_ns) {
    const size_t length = std::min<size_t>(record.data.size(), 8);
    uint8_t* fields = begin_object(out, type, kLinMessageSize, offset_ns);
    put_u16(fields, record.bus_channel);
    fields[2] = static_cast<uint8_t>(record.id);
    fields[3] = static_cast<uint8_t>(length);
    copy_bytes(fields + 4, record.data, length);
    fields[18] = record.details.lin.dir;
    return kLinMessageSize;
}

// Receive and send errors: the channel and the frame identifier only.
size_t lin_error(uint8_t* out, ObjectType type, size_t size, const BusRecord& record, uint64_t offset_ns) {
    uint8_t* fields = begin_object(out, type, size, offset_ns);
    put_u16(fields, record.bus_channel);
    fields[2] = static_cast<uint8_t>(record.id);
    return size;
}

size_t lin_sync_error(uint8_t* out, const BusRecord& record, uint64_t offset_ns) {
    uint8_t* fields = begin_object(out, ObjectType::LinSyncError, kLinSyncErrorSize, offset_ns);
    put_u16(fields, record.bus_channel);
    return kLinSyncErrorSize;
}

}  // namespace

size_t encode_object(uint8_t* out, const BusRecord& record, uint64_t offset_ns) {
    switch (record.kind) {
    case BusRecordKind::CanDataFrame:
    case BusRecordKind::CanRemoteFrame:
        // A classic frame logged with more than 8 bytes keeps them in the FD object, without its FD flag.
        return record.details.can.edl || record.data.size() > 8 ? can_fd_message(out, record, offset_ns)
                                                                 : can_message(out, record, offset_ns);
    case BusRecordKind::CanErrorFrame: return can_error(out, record, offset_ns);
    case BusRecordKind::LinFrame: return lin_message(out, ObjectType::LinMessage, record, offset_ns);
    case BusRecordKind::LinChecksumError: return lin_message(out, ObjectType::LinChecksumError, record, offset_ns);
    case BusRecordKind::LinReceiveError:
        return lin_error(out, ObjectType::LinReceiveError, kLinReceiveErrorSize, record, offset_ns);
    case BusRecordKind::LinTransmissionError:
        return lin_error(out, ObjectType::LinSendError, kLinSendErrorSize, record, offset_ns);
    case BusRecordKind::LinSyncError: return lin_sync_error(out, record, offset_ns);
    default: return 0;
    }
}

}  // namespace tracemill::blf
