// CAN: data, remote and error frames.
#pragma once

#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace can {

// The roles of CAN channels, shared by the three events.
enum Role : ChannelRole {
    Timestamp = kTimestampRole,
    BusChannel,
    Id,
    Ide,
    Dir,
    Edl,
    Esi,
    Brs,
    Dlc,
    DataLength,
    DataBytes,
    ErrorType,
    kRoleCount,
};
static_assert(roles_fit(kRoleCount), "CAN roles must fit a read plan");

extern const BusKind kBusKind;

}  // namespace can

bool decode_can_data_frame(const RawRecord& raw, BusRecord& record);
bool decode_can_remote_frame(const RawRecord& raw, BusRecord& record);
bool decode_can_error_frame(const RawRecord& raw, BusRecord& record);

// Remote frames carry no payload; their length becomes this many zero bytes at most.
inline constexpr uint64_t kMaxRemoteDataLength = 64;

}  // namespace tracemill
