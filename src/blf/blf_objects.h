// One bus record as one binary log object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mdf/bus_record.h"

namespace tracemill::blf {

// Writes the object of `record` at `out`, which has room for kMaxObjectSize
// bytes, stamped `offset_ns` nanoseconds after the file's start time. Returns
// its size, a multiple of 4; 0 for a record kind that has no object here.
//   CAN data and remote frames  CAN_MESSAGE2 (classic) or CAN_FD_MESSAGE_64 (FD, or over 8 bytes)
//   CAN error frames            CAN_ERROR_EXT
//   LIN frames                  LIN_MESSAGE
//   LIN errors                  LIN_CRC_ERROR, LIN_RCV_ERROR, LIN_SND_ERROR, LIN_SYN_ERROR
size_t encode_object(uint8_t* out, const BusRecord& record, uint64_t offset_ns);

// The record kinds encode_object writes: every CAN and LIN kind.
inline bool has_object(BusRecordKind kind) {
    return kind >= BusRecordKind::CanDataFrame && kind <= BusRecordKind::LinSyncError;
}

}  // namespace tracemill::blf
