// LIN: frames, and the checksum, receive, transmission and sync errors.
#pragma once

#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace lin {

// The roles of LIN channels, shared by the frame and the error events.
enum Role : ChannelRole {
    Timestamp = kTimestampRole,
    BusChannel,
    Id,
    Dir,
    DataLength,
    ReceivedDataByteCount,
    DataBytes,
    kRoleCount,
};
static_assert(roles_fit(kRoleCount), "LIN roles must fit a read plan");

extern const BusKind kBusKind;

}  // namespace lin

bool decode_lin_frame(const RawRecord& raw, BusRecord& record);
bool decode_lin_checksum_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_receive_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_transmission_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_sync_error(const RawRecord& raw, BusRecord& record);

}  // namespace tracemill
