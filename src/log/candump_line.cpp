// Candump log lines, written field by field into the caller's buffer.
#include "log/candump_line.h"

#include <algorithm>
#include <cstring>

#include "text/epoch_time.h"

namespace tracemill {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr int kSecondsDigits = 10;

// Error frames carry their class in the identifier (with the error flag) and
// the details in 8 data bytes, as the kernel's CAN error frames do.
constexpr uint32_t kErrorFlag = 0x20000000;
constexpr uint32_t kErrorProtocol = 0x08;     // protocol violation, type in byte 2
constexpr uint32_t kErrorNoAck = 0x20;        // no acknowledgement on transmission
constexpr uint32_t kErrorBusError = 0x80;     // readers tell error frames by this class
constexpr uint8_t kProtocolBit = 0x01;        // byte 2: single bit error
constexpr uint8_t kProtocolForm = 0x02;       // byte 2: frame format error
constexpr uint8_t kProtocolStuff = 0x04;      // byte 2: bit stuffing error
constexpr uint8_t kLocationCrc = 0x08;        // byte 3: CRC sequence
constexpr uint8_t kLocationAck = 0x19;        // byte 3: ACK slot
constexpr size_t kErrorDataSize = 8;
constexpr uint32_t kCanFdBrs = 0x1;
constexpr uint32_t kCanFdEsi = 0x2;
constexpr uint32_t kIdMask = 0x1FFFFFFF;

char* put_hex_digits(char* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHex[value & 0xF];
        value >>= 4;
    }
    return out + digits;
}

char* put_hex_bytes(char* out, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        *out++ = kHex[bytes[i] >> 4];
        *out++ = kHex[bytes[i] & 0xF];
    }
    return out;
}

// "canN" for bus channel N + 1; channel 0, which loggers do not write, is can-1.
char* put_interface(char* out, uint8_t bus_channel) {
    out = static_cast<char*>(std::memcpy(out, "can", 3)) + 3;
    if (bus_channel == 0) return static_cast<char*>(std::memcpy(out, "-1", 2)) + 2;
    const unsigned number = bus_channel - 1u;
    if (number >= 100) *out++ = static_cast<char>('0' + number / 100);
    if (number >= 10) *out++ = static_cast<char>('0' + number / 10 % 10);
    *out++ = static_cast<char>('0' + number % 10);
    return out;
}

// The identifier and the 8 data bytes of an error frame of `error_type`
// (1 bit, 2 form, 3 stuffing, 4 CRC, 5 acknowledgement error; 0 unknown).
char* put_error_frame(char* out, uint32_t error_type) {
    uint8_t data[kErrorDataSize] = {};
    uint32_t id = kErrorFlag | kErrorBusError | kErrorProtocol;
    switch (error_type) {
    case 1: data[2] = kProtocolBit; break;
    case 2: data[2] = kProtocolForm; break;
    case 3: data[2] = kProtocolStuff; break;
    case 4: data[3] = kLocationCrc; break;
    case 5:
        id = kErrorFlag | kErrorBusError | kErrorNoAck;
        data[3] = kLocationAck;
        break;
    default: break;
    }
    out = put_hex_digits(out, id, 8);
    *out++ = '#';
    return put_hex_bytes(out, data, kErrorDataSize);
}

}  // namespace

bool candump_writes(BusRecordKind kind) {
    return kind == BusRecordKind::CanDataFrame || kind == BusRecordKind::CanRemoteFrame ||
           kind == BusRecordKind::CanErrorFrame;
}

size_t format_candump_line(char* out, const BusRecord& record) {
    char* p = out;
    *p++ = '(';
    p = put_epoch_seconds(p, epoch_micros(record.timestamp), kSecondsDigits);
    *p++ = ')';
    *p++ = ' ';
    if (record.kind == BusRecordKind::CanErrorFrame) {
        p = put_interface(p, record.details.error.bus_channel);
        *p++ = ' ';
        p = put_error_frame(p, record.details.error.error_type);
        *p++ = '\n';
        return static_cast<size_t>(p - out);
    }
    const CanDetails& can = record.details.can;
    p = put_interface(p, record.bus_channel);
    *p++ = ' ';
    p = put_hex_digits(p, record.id & kIdMask, can.ide ? 8 : 3);
    *p++ = '#';
    if (record.kind == BusRecordKind::CanRemoteFrame) {
        // The requested length as one digit, left out when 0.
        *p++ = 'R';
        const unsigned length = std::min<unsigned>(can.dlc, 8);
        if (length > 0) *p++ = static_cast<char>('0' + length);
    } else {
        if (can.edl) {
            *p++ = '#';
            *p++ = kHex[(can.brs ? kCanFdBrs : 0) | (can.esi ? kCanFdEsi : 0)];
        }
        p = put_hex_bytes(p, record.data.data(), record.data.size());
    }
    if (can.dir) {
        *p++ = ' ';
        *p++ = 'T';
    }
    *p++ = '\n';
    return static_cast<size_t>(p - out);
}

}  // namespace tracemill
