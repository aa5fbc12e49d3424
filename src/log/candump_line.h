// One record as a line of a candump log:
//   (1700000000.250000) can0 123#DEAD            classic data frame, 3 hex digits for 11-bit identifiers
//   (1700000000.250000) can1 18FEF100#R8 T       remote frame with its length, transmitted
//   (1700000000.250000) can0 456##3010203        CAN FD frame: flags digit (1 = BRS, 2 = ESI), then data
//   (1700000000.250000) can0 20000088#0000010000000000   error frame: error flag in the identifier
// Interfaces are named after the bus channel: channel 1 is can0. Received
// frames end after their data, as candump writes them; transmitted ones get
// " T", the direction mark python-can's reader takes.
#pragma once

#include <cstddef>

#include "mdf/bus_record.h"

namespace tracemill {

// The most a line of a record with `data_size` data bytes can take.
inline constexpr size_t candump_line_capacity(size_t data_size) { return 64 + 2 * data_size; }

// The record has a candump notation: CAN data, remote and error frames.
bool candump_writes(BusRecordKind kind);

// Writes the line of a CAN data, remote or error frame, newline included,
// and returns its length; at most candump_line_capacity(record.data.size()).
size_t format_candump_line(char* out, const BusRecord& record);

}  // namespace tracemill
