// Bus-logging channel groups for the synthetic writer: CAN data, remote and
// error frames, LIN frames and LIN error events, laid out as the supported
// loggers record them, and frames turned into records of those groups.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mdf_writer.h"

namespace tracemill::tools {

enum class BusGroupKind {
    CanDataFrame,
    CanRemoteFrame,
    CanErrorFrame,
    LinFrame,
    LinChecksumError,
    LinReceiveError,
    LinTransmissionError,
    LinSyncError,
};

// The channel name prefix of a group kind ("CAN_DataFrame", "LIN_SyncError", ...).
const char* bus_group_name(BusGroupKind kind);

// Where the payload bytes of data frames go.
enum class PayloadStorage {
    InRecord,    // byte array in the fixed record, `payload_capacity` bytes
    SignalData,  // variable-length channel with an SD block of its own
    VlsdGroup,   // variable-length channel whose values are records of a VLSD channel group
};

// Where a VLSD record is written relative to the record that refers to it.
enum class VlsdPlacement { AfterReferrer, BeforeReferrer, Omitted };

// Options of a bus channel group; the chainable setters keep call sites short
// (BusGroupOptions().with_payload(PayloadStorage::SignalData).with_composed()).
struct BusGroupOptions {
    PayloadStorage payload = PayloadStorage::InRecord;
    uint32_t payload_capacity = 8;  // InRecord only; longer payloads are cut
    VlsdPlacement vlsd_placement = VlsdPlacement::AfterReferrer;
    bool composed = false;     // bus fields become members of one structure channel
    std::string prefix;        // channel name prefix; empty: bus_group_name(kind)
    double timestamp_tick = 0; // > 0: Timestamp stored as u64 ticks with a linear conversion
    std::optional<uint64_t> record_id;  // default: the next free id (1, 2, ...)
    std::optional<SourceSpec> source;   // acquisition source of the group

    BusGroupOptions& with_payload(PayloadStorage storage, uint32_t capacity = 8) {
        payload = storage;
        payload_capacity = capacity;
        return *this;
    }
    BusGroupOptions& with_vlsd_placement(VlsdPlacement placement) {
        vlsd_placement = placement;
        return *this;
    }
    BusGroupOptions& with_composed(bool on = true) {
        composed = on;
        return *this;
    }
    BusGroupOptions& with_prefix(std::string name) {
        prefix = std::move(name);
        return *this;
    }
    BusGroupOptions& with_timestamp_tick(double seconds) {
        timestamp_tick = seconds;
        return *this;
    }
    BusGroupOptions& with_record_id(uint64_t id) {
        record_id = id;
        return *this;
    }
    BusGroupOptions& with_source(SourceSpec spec) {
        source = std::move(spec);
        return *this;
    }
};

struct CanFrame {
    double time = 0;  // seconds from the file start
    uint8_t bus = 1;
    uint32_t id = 0;
    bool ide = false;  // 29-bit identifier
    bool dir = false;  // transmitted
    bool edl = false;  // CAN FD
    bool brs = false;
    bool esi = false;
    int dlc = -1;          // -1: derived from the payload length
    int data_length = -1;  // -1: the payload length
    std::vector<uint8_t> data;
};

struct CanRemoteFrame {
    double time = 0;
    uint8_t bus = 1;
    uint32_t id = 0;
    bool ide = false;
    bool dir = false;
    uint8_t dlc = 0;
    uint8_t data_length = 0;
};

struct CanErrorFrame {
    double time = 0;
    uint8_t bus = 1;
    uint8_t error_type = 0;
};

// LIN frames and checksum errors.
struct LinFrame {
    double time = 0;
    uint8_t bus = 1;
    uint8_t id = 0;
    bool dir = false;
    int data_length = -1;          // -1: the payload length
    int received_byte_count = -1;  // -1: the payload length
    std::vector<uint8_t> data;
};

// LIN receive, transmission and sync errors (the sync error has no identifier).
struct LinErrorEvent {
    double time = 0;
    uint8_t bus = 1;
    uint8_t id = 0;
};

// Frame factories for the common cases; adjust the other fields afterwards.
CanFrame can_frame(double time, uint32_t id, std::vector<uint8_t> data, uint8_t bus = 1);
CanFrame fd_frame(double time, uint32_t id, std::vector<uint8_t> data, uint8_t bus = 1);  // EDL and BRS set
CanRemoteFrame remote_frame(double time, uint32_t id, uint8_t data_length, uint8_t bus = 1);
CanErrorFrame error_frame(double time, uint8_t error_type, uint8_t bus = 1);
LinFrame lin_frame(double time, uint8_t id, std::vector<uint8_t> data, uint8_t bus = 1);
LinErrorEvent lin_error(double time, uint8_t id, uint8_t bus = 1);

// The bus fields a record may carry.
enum BusField { kTimestamp, kBusChannel, kId, kIde, kDir, kEdl, kBrs, kEsi, kDlc, kDataLength,
                kReceivedCount, kErrorType, kPayload, kFieldCount };

// The smallest CAN FD data length code that covers `length` bytes.
uint8_t dlc_for_length(size_t length);

// One data group of bus-logging channel groups, filled frame by frame.
// With record_id_size 0 the group is sorted and holds exactly one channel group.
class BusDataGroup {
public:
    explicit BusDataGroup(uint8_t record_id_size = 0);

    // Adds a channel group (and its VLSD group when asked for); returns its handle.
    size_t add_group(BusGroupKind kind, const BusGroupOptions& options = {});

    void add(size_t group, const CanFrame& frame);
    void add(size_t group, const CanRemoteFrame& frame);
    void add(size_t group, const CanErrorFrame& frame);
    void add(size_t group, const LinFrame& frame);
    void add(size_t group, const LinErrorEvent& event);

    // The channel group behind a handle, for adjustments before writing.
    ChannelGroupSpec& channel_group(size_t group);
    // A channel of the group by full name, searching composed members too.
    ChannelSpec* find_channel(size_t group, std::string_view name);

    const DataGroupSpec& spec() const { return spec_; }
    DataGroupSpec take() { return std::move(spec_); }

private:
    struct Slot {
        bool present = false;
        uint32_t bit_position = 0;
        uint32_t bit_count = 0;
    };
    struct Group {
        BusGroupKind kind;
        BusGroupOptions options;
        size_t cg = 0;
        std::optional<size_t> vlsd_cg;
        std::array<Slot, kFieldCount> slots{};
        std::vector<size_t> payload_path;  // channel index, then member index when composed
        std::vector<uint8_t> record;       // reused for every record
        uint64_t vlsd_offset = 0;          // running offset of VLSD values
    };

    Group& start_record(size_t group, double time, uint8_t bus);
    void put_field(Group& g, BusField field, uint64_t value);
    void write_payload(Group& g, const std::vector<uint8_t>& data);
    ChannelSpec& payload_channel(Group& g);

    DataGroupSpec spec_;
    std::vector<Group> groups_;
    uint64_t next_record_id_ = 1;
};

}  // namespace tracemill::tools
