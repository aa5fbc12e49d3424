// The binary log file layout as written here, all fields little-endian:
//
//   file header (144 bytes)        "LOGG", sizes, object count, start and end time
//   log container object           "LOBJ" base header, container header, zlib data
//   log container object ...
//
// The deflated data of the containers, joined, is a run of objects, each an
// "LOBJ" base header, a version 1 object header (flags, timestamp) and the
// kind's fields. Every object size written here is a multiple of 4, so no
// reader has to guess at padding between objects. A container object is
// followed by (object size % 4) zero bytes, the padding readers skip.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracemill::blf {

// ---- Little-endian stores into an output buffer ----

inline void put_u16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}
inline void put_u32(uint8_t* out, uint32_t value) {
    put_u16(out, static_cast<uint16_t>(value));
    put_u16(out + 2, static_cast<uint16_t>(value >> 16));
}
inline void put_u64(uint8_t* out, uint64_t value) {
    put_u32(out, static_cast<uint32_t>(value));
    put_u32(out + 4, static_cast<uint32_t>(value >> 32));
}

// ---- File header ----
//   0  "LOGG"            4 header size (144)    8 application id, major, minor, build
//  12  binary log version: major, minor, build, patch
//  16  u64 file size    24 u64 uncompressed size (header + containers as if stored)
//  32  u32 object count  36 u32 objects read (0)
//  40  start time, 56 end time: SYSTEMTIME (u16 year, month, day of week
//      (0 = Sunday), day, hour, minute, second, millisecond), UTC here
//  72  zero up to 144
inline constexpr size_t kFileHeaderSize = 144;
inline constexpr size_t kFileSizeAt = 16;
inline constexpr size_t kUncompressedSizeAt = 24;
inline constexpr size_t kObjectCountAt = 32;
inline constexpr size_t kStartTimeAt = 40;
inline constexpr size_t kEndTimeAt = 56;

// ---- Object base header (16 bytes) ----
//   0  "LOBJ"   4 u16 header size   6 u16 header version   8 u32 object size   12 u32 object type
inline constexpr size_t kBaseHeaderSize = 16;

// ---- Version 1 object header, after the base header (16 bytes) ----
//   0  u32 flags   4 u16 client index   6 u16 object version   8 u64 timestamp
inline constexpr size_t kObjectHeaderSize = kBaseHeaderSize + 16;
inline constexpr uint32_t kTimeOneNanosecond = 0x2;  // object flag: timestamp in nanoseconds

// ---- Log container, after the base header (16 bytes) ----
//   0  u16 compression method   2..7 zero   8 u32 uncompressed size   12 zero
inline constexpr size_t kContainerHeaderSize = kBaseHeaderSize + 16;
inline constexpr uint16_t kDeflateMethod = 2;
// Uncompressed bytes a container holds at most; objects are never split.
inline constexpr size_t kContainerCapacity = 128 * 1024;

enum class ObjectType : uint32_t {
    LogContainer = 10,
    LinMessage = 11,
    LinChecksumError = 12,
    LinReceiveError = 14,
    LinSendError = 15,
    LinSyncError = 18,
    CanErrorExt = 73,
    CanMessage2 = 86,
    CanFdMessage64 = 101,
};

// ---- CAN_MESSAGE2 fields (24 bytes) ----
//   0  u16 channel   2 flags   3 dlc   4 u32 id   8 data[8]
//  16  u32 frame length (ns)   20 bit count   21..23 zero
inline constexpr size_t kCanMessage2Size = kObjectHeaderSize + 24;
inline constexpr uint8_t kCanTransmitted = 0x01;
inline constexpr uint8_t kCanRemote = 0x80;
inline constexpr uint32_t kExtendedId = 0x80000000;

// ---- CAN_FD_MESSAGE_64 fields (40 bytes, then the data) ----
//   0  channel   1 dlc   2 valid data bytes   3 transmit count   4 u32 id
//   8  u32 frame length   12 u32 flags   16 u32 arbitration bit timing
//  20  u32 data bit timing   24 u32 BRS offset   28 u32 CRC delimiter offset
//  32  u16 bit count   34 direction   35 extended data offset   36 u32 CRC
//  40  data, zero-filled here to a multiple of 4
inline constexpr size_t kCanFdFieldsSize = 40;
inline constexpr size_t kCanFdMaxSize = kObjectHeaderSize + kCanFdFieldsSize + 64;
inline constexpr uint32_t kFdEdl = 0x1000;
inline constexpr uint32_t kFdBrs = 0x2000;
inline constexpr uint32_t kFdEsi = 0x4000;

// ---- CAN_ERROR_EXT fields (32 bytes) ----
//   0  u16 channel   2 u16 length   4 u32 flags   8 error capture code
//   9  position   10 dlc   11 zero   12 u32 frame length   16 u32 id
//  20  u16 extended error code   22 zero   24 data[8]
// The extended code carries the controller's error kind in bits 6..11 and,
// in bit 13, that the frame was acknowledged.
inline constexpr size_t kCanErrorExtSize = kObjectHeaderSize + 32;
inline constexpr uint32_t kErrorCodeValid = 0x2;
inline constexpr uint16_t kErrorAcknowledged = 0x2000;

// ---- LIN_MESSAGE and LIN_CRC_ERROR fields (24 bytes) ----
//   0  u16 channel   2 id   3 dlc   4 data[8]   12 FSM id   13 FSM state
//  14  header time   15 full time   16 u16 checksum   18 direction   19..23 zero
inline constexpr size_t kLinMessageSize = kObjectHeaderSize + 24;
// ---- LIN_RCV_ERROR fields (16 bytes) ----
//   0  u16 channel   2 id   3 dlc   4 FSM id, FSM state, header time, full time,
//   state reason, offending byte, short error, DLC timeout   12..15 zero
inline constexpr size_t kLinReceiveErrorSize = kObjectHeaderSize + 16;
// ---- LIN_SND_ERROR fields (8 bytes) ----
//   0  u16 channel   2 id   3 dlc   4 FSM id, FSM state, header time, full time
inline constexpr size_t kLinSendErrorSize = kObjectHeaderSize + 8;
// ---- LIN_SYN_ERROR fields (16 bytes) ----
//   0  u16 channel   2 zero   4 u16 time differences[4]   12..15 zero
inline constexpr size_t kLinSyncErrorSize = kObjectHeaderSize + 16;

// The largest object a record becomes.
inline constexpr size_t kMaxObjectSize = kCanFdMaxSize;

}  // namespace tracemill::blf
