// One decoded bus event, shared by the record iterator and the output writer.
#pragma once

#include <cstdint>
#include <vector>

namespace tracemill {

enum class BusRecordKind : uint32_t {
    Unsupported = 0,
    CanDataFrame = 1,
    CanRemoteFrame = 2,
    CanErrorFrame = 3,
    LinFrame = 4,
    LinChecksumError = 5,
    LinReceiveError = 6,
    LinTransmissionError = 7,
    LinSyncError = 8,
};

struct CanDetails {
    uint8_t ide;  // 1 = 29-bit identifier
    uint8_t dir;  // 1 = transmitted, 0 = received
    uint8_t edl;  // 1 = CAN FD frame
    uint8_t esi;  // 1 = error state indicator set
    uint8_t brs;  // 1 = bit rate switch
    uint8_t rtr;  // 1 = remote frame
    uint8_t dlc;  // data length code as logged
};

struct CanErrorDetails {
    uint8_t bus_channel;  // an error frame's bus channel lives here
    uint32_t error_type;  // 0..5
};

struct LinDetails {
    uint8_t dir;
    uint8_t received_byte_count;
};

union BusRecordDetails {
    CanDetails can;
    CanErrorDetails error;
    LinDetails lin;
};
static_assert(sizeof(BusRecordDetails) == 8);

struct BusRecord {
    double timestamp = 0;  // seconds; absolute once handed out by the iterator
    uint8_t bus_channel = 0;
    uint32_t id = 0;
    std::vector<uint8_t> data;  // reused from record to record
    BusRecordKind kind = BusRecordKind::Unsupported;
    BusRecordDetails details{};
};

}  // namespace tracemill
