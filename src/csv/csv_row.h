// One record as a row of the CSV output (RFC 4180, CRLF line ends). Columns:
//   time          ISO 8601 UTC with microseconds, 2023-11-14T22:13:20.250000Z
//   epoch_seconds seconds since 1970 with six decimals
//   bus           CAN or LIN
//   channel       bus channel as logged (1 is the first)
//   id            identifier in hexadecimal: 3 digits (11-bit CAN), 8 (29-bit CAN), 2 (LIN)
//   extended      1 for a 29-bit CAN identifier, else 0
//   direction     Rx or Tx
//   kind          data, remote, error, lin, lin checksum error, lin receive error,
//                 lin transmission error, lin sync error
//   error_type    of CAN error frames: bit, form, stuff, crc, ack or unknown
//   fd, brs, esi  CAN FD frame, bit rate switch, error state indicator: 1 or 0
//   dlc           data length code as logged
//   data_length   bytes of data (the requested length of a remote frame)
//   data          data bytes in hexadecimal, separated by spaces
// A field a record does not have stays empty (no identifier for error frames
// and LIN sync errors, no direction for errors, no flags or DLC for LIN). No
// field can hold a comma, a quote or a line break, so none needs quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mdf/bus_record.h"

namespace tracemill {

inline constexpr std::string_view kCsvHeader =
    "time,epoch_seconds,bus,channel,id,extended,direction,kind,error_type,fd,brs,esi,dlc,data_length,data\r\n";

// The most a row of a record with `data_size` data bytes can take.
inline constexpr size_t csv_row_capacity(size_t data_size) { return 192 + 3 * data_size; }

// Writes the rows of one table. Records come by the million and mostly many
// to a second: the text of the current second is kept and only the
// microseconds are written per row.
class CsvRowWriter {
public:
    // Writes the row of any record but an unsupported one, line end included,
    // and returns its length; at most csv_row_capacity(record.data.size()).
    size_t format(char* out, const BusRecord& record);

private:
    // The two time columns; times before 1970 are written in full each time.
    char* put_times(char* out, int64_t micros);

    int64_t second_ = -1;           // the second whose texts are kept
    char iso_second_[20] = {};      // "YYYY-MM-DDThh:mm:ss."
    char epoch_second_[24] = {};    // "1700000000."
    size_t epoch_length_ = 0;
};

// The row alone, without kept texts.
inline size_t format_csv_row(char* out, const BusRecord& record) { return CsvRowWriter().format(out, record); }

}  // namespace tracemill
