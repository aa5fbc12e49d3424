// Record layouts of the bus-logging channel groups and the frame encoders.
#include "bus_groups.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "mdf_layout.h"

namespace tracemill::tools {
namespace {

constexpr uint32_t kTimestampBytes = 8;

}  // namespace

const char* bus_group_name(BusGroupKind kind) {
    switch (kind) {
        case BusGroupKind::CanDataFrame: return "CAN_DataFrame";
        case BusGroupKind::CanRemoteFrame: return "CAN_RemoteFrame";
        case BusGroupKind::CanErrorFrame: return "CAN_ErrorFrame";
        case BusGroupKind::LinFrame: return "LIN_Frame";
        case BusGroupKind::LinChecksumError: return "LIN_ChecksumError";
        case BusGroupKind::LinReceiveError: return "LIN_ReceiveError";
        case BusGroupKind::LinTransmissionError: return "LIN_TransmissionError";
        case BusGroupKind::LinSyncError: return "LIN_SyncError";
    }
    return "";
}

uint8_t dlc_for_length(size_t length) {
    static constexpr size_t kFdLengths[] = {12, 16, 20, 24, 32, 48, 64};
    if (length <= 8) return static_cast<uint8_t>(length);
    for (size_t i = 0; i < 7; ++i) {
        if (length <= kFdLengths[i]) return static_cast<uint8_t>(9 + i);
    }
    return 15;
}

CanFrame can_frame(double time, uint32_t id, std::vector<uint8_t> data, uint8_t bus) {
    CanFrame frame;
    frame.time = time;
    frame.bus = bus;
    frame.id = id;
    frame.ide = id > 0x7FF;
    frame.data = std::move(data);
    return frame;
}

CanFrame fd_frame(double time, uint32_t id, std::vector<uint8_t> data, uint8_t bus) {
    CanFrame frame = can_frame(time, id, std::move(data), bus);
    frame.edl = true;
    frame.brs = true;
    return frame;
}

CanRemoteFrame remote_frame(double time, uint32_t id, uint8_t data_length, uint8_t bus) {
    CanRemoteFrame frame;
    frame.time = time;
    frame.bus = bus;
    frame.id = id;
    frame.ide = id > 0x7FF;
    frame.dlc = data_length;
    frame.data_length = data_length;
    return frame;
}

CanErrorFrame error_frame(double time, uint8_t error_type, uint8_t bus) {
    CanErrorFrame frame;
    frame.time = time;
    frame.bus = bus;
    frame.error_type = error_type;
    return frame;
}

LinFrame lin_frame(double time, uint8_t id, std::vector<uint8_t> data, uint8_t bus) {
    LinFrame frame;
    frame.time = time;
    frame.bus = bus;
    frame.id = id;
    frame.data = std::move(data);
    return frame;
}

LinErrorEvent lin_error(double time, uint8_t id, uint8_t bus) {
    LinErrorEvent event;
    event.time = time;
    event.bus = bus;
    event.id = id;
    return event;
}

namespace {

// One bus field's place in the fixed record (behind the 8-byte Timestamp).
struct FieldLayout {
    BusField field;
    const char* suffix;
    uint32_t byte_offset;
    uint8_t bit_offset;
    uint32_t bit_count;  // 0 for the payload, sized by the storage
};

struct KindLayout {
    std::vector<FieldLayout> fields;
    uint32_t payload_offset = 0;  // 0: the kind carries no payload
    uint32_t fixed_bytes = 0;     // record size without payload
};

KindLayout layout_for(BusGroupKind kind) {
    switch (kind) {
        case BusGroupKind::CanDataFrame:
            return {{{kBusChannel, "BusChannel", 8, 0, 8},
                     {kId, "ID", 9, 0, 29},
                     {kIde, "IDE", 12, 5, 1},
                     {kDlc, "DLC", 13, 4, 4},
                     {kDataLength, "DataLength", 14, 0, 8},
                     {kDir, "Dir", 13, 0, 1},
                     {kEdl, "EDL", 13, 1, 1},
                     {kEsi, "ESI", 13, 3, 1},
                     {kBrs, "BRS", 13, 2, 1},
                     {kPayload, "DataBytes", 16, 0, 0}},
                    16, 16};
        case BusGroupKind::CanRemoteFrame:
            return {{{kBusChannel, "BusChannel", 8, 0, 8},
                     {kId, "ID", 9, 0, 29},
                     {kIde, "IDE", 12, 5, 1},
                     {kDlc, "DLC", 13, 4, 4},
                     {kDataLength, "DataLength", 14, 0, 8},
                     {kDir, "Dir", 13, 0, 1}},
                    0, 15};
        case BusGroupKind::CanErrorFrame:
            return {{{kBusChannel, "BusChannel", 8, 0, 8}, {kErrorType, "ErrorType", 9, 0, 8}}, 0, 10};
        case BusGroupKind::LinFrame:
        case BusGroupKind::LinChecksumError:
            return {{{kBusChannel, "BusChannel", 8, 0, 8},
                     {kId, "ID", 9, 0, 6},
                     {kDir, "Dir", 9, 7, 1},
                     {kDataLength, "DataLength", 10, 0, 4},
                     {kReceivedCount, "ReceivedDataByteCount", 10, 4, 4},
                     {kPayload, "DataBytes", 11, 0, 0}},
                    11, 11};
        case BusGroupKind::LinReceiveError:
        case BusGroupKind::LinTransmissionError:
            return {{{kBusChannel, "BusChannel", 8, 0, 8}, {kId, "ID", 9, 0, 6}}, 0, 10};
        case BusGroupKind::LinSyncError:
            return {{{kBusChannel, "BusChannel", 8, 0, 8}}, 0, 9};
    }
    return {};
}

ChannelSpec timestamp_channel(double tick) {
    ChannelSpec cn;
    cn.name = "Timestamp";
    cn.channel_type = kMaster;
    cn.sync_type = 1;  // time
    cn.bit_count = 64;
    cn.unit = "s";
    if (tick > 0) {
        cn.data_type = kUnsignedLe;
        cn.conversion = ConversionSpec::linear(0.0, tick);
    } else {
        cn.data_type = kFloatLe;
    }
    return cn;
}

}  // namespace

BusDataGroup::BusDataGroup(uint8_t record_id_size) { spec_.record_id_size = record_id_size; }

size_t BusDataGroup::add_group(BusGroupKind kind, const BusGroupOptions& options) {
    const KindLayout layout = layout_for(kind);
    const std::string prefix = options.prefix.empty() ? bus_group_name(kind) : options.prefix;

    Group g;
    g.kind = kind;
    g.options = options;
    g.cg = spec_.groups.size();
    spec_.groups.emplace_back();

    uint32_t payload_bytes = 0;
    if (layout.payload_offset) {
        payload_bytes = options.payload == PayloadStorage::InRecord ? options.payload_capacity : 8;
    }
    const uint32_t record_size = layout.fixed_bytes + payload_bytes;

    if (layout.payload_offset && options.payload == PayloadStorage::VlsdGroup) {
        g.vlsd_cg = spec_.groups.size();
        ChannelGroupSpec vlsd;
        vlsd.flags = kChannelGroupVlsdFlag;
        spec_.groups.push_back(std::move(vlsd));
    }

    std::vector<ChannelSpec> bus_fields;
    g.slots[kTimestamp] = {true, 0, 64};
    for (const FieldLayout& f : layout.fields) {
        ChannelSpec cn;
        cn.name = prefix + "." + f.suffix;
        cn.byte_offset = f.byte_offset;
        cn.bit_offset = f.bit_offset;
        cn.bit_count = f.bit_count;
        if (f.field == kPayload) {
            cn.data_type = kByteArray;
            if (options.payload == PayloadStorage::InRecord) {
                cn.bit_count = 8 * options.payload_capacity;
            } else {
                cn.channel_type = kVariableLength;
                cn.bit_count = 64;
                if (g.vlsd_cg) cn.vlsd_group = *g.vlsd_cg;
            }
            g.payload_path = {options.composed ? size_t{1} : 1 + bus_fields.size()};
            if (options.composed) g.payload_path.push_back(bus_fields.size());
        }
        g.slots[f.field] = {true, f.byte_offset * 8 + f.bit_offset, cn.bit_count};
        bus_fields.push_back(std::move(cn));
    }

    ChannelGroupSpec& cg = spec_.groups[g.cg];
    cg.data_bytes = record_size;
    cg.acq_name = prefix;
    cg.acq_source = options.source;
    cg.channels.push_back(timestamp_channel(options.timestamp_tick));
    if (options.composed) {
        ChannelSpec structure;
        structure.name = prefix;
        structure.data_type = kByteArray;
        structure.byte_offset = kTimestampBytes;
        structure.bit_count = 8 * (record_size - kTimestampBytes);
        structure.members = std::move(bus_fields);
        cg.channels.push_back(std::move(structure));
    } else {
        for (auto& cn : bus_fields) cg.channels.push_back(std::move(cn));
    }

    cg.record_id = options.record_id.value_or(next_record_id_);
    next_record_id_ = std::max(next_record_id_, cg.record_id + 1);
    if (g.vlsd_cg) spec_.groups[*g.vlsd_cg].record_id = next_record_id_++;
    if (spec_.record_id_size == 0 && spec_.groups.size() == 1) cg.record_id = 0;

    g.record.assign(record_size, 0);
    groups_.push_back(std::move(g));
    return groups_.size() - 1;
}

ChannelGroupSpec& BusDataGroup::channel_group(size_t group) { return spec_.groups[groups_[group].cg]; }

namespace {
ChannelSpec* find_in(std::vector<ChannelSpec>& channels, std::string_view name) {
    for (auto& cn : channels) {
        if (cn.name == name) return &cn;
        if (ChannelSpec* member = find_in(cn.members, name)) return member;
    }
    return nullptr;
}
}  // namespace

ChannelSpec* BusDataGroup::find_channel(size_t group, std::string_view name) {
    return find_in(channel_group(group).channels, name);
}

ChannelSpec& BusDataGroup::payload_channel(Group& g) {
    ChannelSpec* cn = &spec_.groups[g.cg].channels[g.payload_path[0]];
    for (size_t i = 1; i < g.payload_path.size(); ++i) cn = &cn->members[g.payload_path[i]];
    return *cn;
}

BusDataGroup::Group& BusDataGroup::start_record(size_t group, double time, uint8_t bus) {
    Group& g = groups_[group];
    std::memset(g.record.data(), 0, g.record.size());
    if (g.options.timestamp_tick > 0) {
        put_bits(g.record, 0, 64, static_cast<uint64_t>(std::llround(time / g.options.timestamp_tick)));
    } else {
        put_f64_at(g.record, 0, time);
    }
    put_field(g, kBusChannel, bus);
    return g;
}

void BusDataGroup::put_field(Group& g, BusField field, uint64_t value) {
    const Slot& slot = g.slots[field];
    if (slot.present) put_bits(g.record, slot.bit_position, slot.bit_count, value);
}

// Places the payload and appends the record (and its VLSD record, if any).
void BusDataGroup::write_payload(Group& g, const std::vector<uint8_t>& data) {
    RecordAppender appender(spec_);
    const Slot& slot = g.slots[kPayload];
    const size_t at = slot.bit_position / 8;
    switch (g.options.payload) {
        case PayloadStorage::InRecord: {
            const size_t n = std::min<size_t>(data.size(), g.options.payload_capacity);
            if (n) std::memcpy(g.record.data() + at, data.data(), n);
            appender.append_record(g.cg, g.record);
            return;
        }
        case PayloadStorage::SignalData:
            put_bits(g.record, slot.bit_position, 64, RecordAppender::append_signal_entry(payload_channel(g), data));
            appender.append_record(g.cg, g.record);
            return;
        case PayloadStorage::VlsdGroup:
            put_bits(g.record, slot.bit_position, 64, g.vlsd_offset);
            g.vlsd_offset += 4 + data.size();
            if (g.options.vlsd_placement == VlsdPlacement::BeforeReferrer) appender.append_vlsd_record(*g.vlsd_cg, data);
            appender.append_record(g.cg, g.record);
            if (g.options.vlsd_placement == VlsdPlacement::AfterReferrer) appender.append_vlsd_record(*g.vlsd_cg, data);
            return;
    }
}

void BusDataGroup::add(size_t group, const CanFrame& frame) {
    Group& g = start_record(group, frame.time, frame.bus);
    put_field(g, kId, frame.id);
    put_field(g, kIde, frame.ide);
    put_field(g, kDir, frame.dir);
    put_field(g, kEdl, frame.edl);
    put_field(g, kBrs, frame.brs);
    put_field(g, kEsi, frame.esi);
    put_field(g, kDlc, frame.dlc >= 0 ? static_cast<uint64_t>(frame.dlc) : dlc_for_length(frame.data.size()));
    put_field(g, kDataLength, frame.data_length >= 0 ? static_cast<uint64_t>(frame.data_length) : frame.data.size());
    write_payload(g, frame.data);
}

void BusDataGroup::add(size_t group, const CanRemoteFrame& frame) {
    Group& g = start_record(group, frame.time, frame.bus);
    put_field(g, kId, frame.id);
    put_field(g, kIde, frame.ide);
    put_field(g, kDir, frame.dir);
    put_field(g, kDlc, frame.dlc);
    put_field(g, kDataLength, frame.data_length);
    RecordAppender(spec_).append_record(g.cg, g.record);
}

void BusDataGroup::add(size_t group, const CanErrorFrame& frame) {
    Group& g = start_record(group, frame.time, frame.bus);
    put_field(g, kErrorType, frame.error_type);
    RecordAppender(spec_).append_record(g.cg, g.record);
}

void BusDataGroup::add(size_t group, const LinFrame& frame) {
    Group& g = start_record(group, frame.time, frame.bus);
    put_field(g, kId, frame.id);
    put_field(g, kDir, frame.dir);
    put_field(g, kDataLength, frame.data_length >= 0 ? static_cast<uint64_t>(frame.data_length) : frame.data.size());
    put_field(g, kReceivedCount,
              frame.received_byte_count >= 0 ? static_cast<uint64_t>(frame.received_byte_count) : frame.data.size());
    write_payload(g, frame.data);
}

void BusDataGroup::add(size_t group, const LinErrorEvent& event) {
    Group& g = start_record(group, event.time, event.bus);
    put_field(g, kId, event.id);
    RecordAppender(spec_).append_record(g.cg, g.record);
}

}  // namespace tracemill::tools
