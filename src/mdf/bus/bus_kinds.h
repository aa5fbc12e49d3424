// The bus kinds this reader decodes, each described in its own file (can.cpp,
// lin.cpp) by one table: the events it logs, each a channel group whose
// channel names start with the event's prefix, with the event's record kind,
// the names of its channels' roles and its frame decoder; and the code that
// marks its source blocks. Adding a bus kind means writing its file and
// entering its table in the list in bus_kinds.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "mdf/bus_record.h"
#include "mdf/channel_decoder.h"

namespace tracemill {

// A channel name, whole and case-sensitive, and the role it gives.
struct RoleName {
    std::string_view name;
    ChannelRole role;
};

struct BusEvent {
    std::string_view prefix;  // "CAN_DataFrame": the group's channels are "CAN_DataFrame.<field>"
    BusRecordKind kind;
    FrameDecoder decode;
    std::span<const RoleName> roles;  // "Timestamp" needs no entry
};

struct BusKind {
    std::string_view name;
    uint8_t source_bus_type;  // the bus type of its SI blocks
    std::span<const BusEvent> events;
};

// Every bus kind, in the order they are looked up.
std::span<const BusKind* const> bus_kinds();

// The event whose prefix every dotted channel name of the group shares; none
// when there is no such name, they differ, or no event has that prefix.
const BusEvent* bus_event_of(const ChannelDecoderList& decoders);

// The role of a channel from its exact name: the timestamp, or a role of the
// event its prefix names; no role for any other name.
ChannelRole channel_role(std::string_view name);

// True when SI blocks of this bus type are sources of a bus kind read here.
bool is_decoded_bus_type(uint8_t bus_type);

// The frame decoder of a group: its event's decoder, else decode_unsupported.
FrameDecoder select_frame_decoder(const ChannelDecoderList& decoders);

// Decodes nothing: the records of groups that hold no bus event.
bool decode_unsupported(const RawRecord& raw, BusRecord& record);

// Roles a bus kind numbers must fit a read plan.
template <class RoleEnum>
constexpr bool roles_fit(RoleEnum count) {
    return static_cast<size_t>(count) <= kMaxChannelRoles;
}

// The bits of the roles named in `roles`, plus the timestamp's.
constexpr uint32_t role_bits(std::span<const RoleName> roles) {
    uint32_t bits = role_bit(kTimestampRole);
    for (const RoleName& entry : roles) bits |= role_bit(entry.role);
    return bits;
}

}  // namespace tracemill
