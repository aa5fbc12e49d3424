// The list of bus kinds, and finding a group's event and a channel's role in it.
#include "mdf/bus/bus_kinds.h"

#include <string>

#include "mdf/bus/can.h"
#include "mdf/bus/lin.h"

namespace tracemill {

namespace {

// One entry per bus kind.
constexpr const BusKind* kBusKinds[] = {&can::kBusKind, &lin::kBusKind};

constexpr std::string_view kTimestampName = "Timestamp";

const BusEvent* event_with_prefix(std::string_view prefix) {
    for (const BusKind* bus : kBusKinds)
        for (const BusEvent& event : bus->events)
            if (event.prefix == prefix) return &event;
    return nullptr;
}

}  // namespace

std::span<const BusKind* const> bus_kinds() { return kBusKinds; }

const BusEvent* bus_event_of(const ChannelDecoderList& decoders) {
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
            return nullptr;  // several prefixes
        }
    }
    return found ? event_with_prefix(prefix) : nullptr;
}

ChannelRole channel_role(std::string_view name) {
    if (name == kTimestampName) return kTimestampRole;
    const size_t dot = name.find('.');
    const BusEvent* event = dot == std::string_view::npos ? nullptr : event_with_prefix(name.substr(0, dot));
    if (!event) return kNoRole;
    for (const RoleName& entry : event->roles)
        if (entry.name == name) return entry.role;
    return kNoRole;
}

bool is_decoded_bus_type(uint8_t bus_type) {
    for (const BusKind* bus : kBusKinds)
        if (bus->source_bus_type == bus_type) return true;
    return false;
}

FrameDecoder select_frame_decoder(const ChannelDecoderList& decoders) {
    const BusEvent* event = bus_event_of(decoders);
    return event ? event->decode : decode_unsupported;
}

bool decode_unsupported(const RawRecord&, BusRecord& record) {
    record.kind = BusRecordKind::Unsupported;
    return false;
}

}  // namespace tracemill
