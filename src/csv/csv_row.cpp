// CSV rows, written field by field into the caller's buffer.
#include "csv/csv_row.h"

#include <cstring>

#include "text/epoch_time.h"
#include "text/number_fields.h"

namespace tracemill {
namespace {

constexpr int kEpochDigits = 1;  // no padding

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* put_unsigned(char* out, unsigned value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = digits[--n];
    return out;
}

char* put_flag(char* out, uint8_t flag) {
    *out++ = flag ? '1' : '0';
    return out;
}

struct KindColumns {
    std::string_view bus;
    std::string_view kind;
    bool has_id;
    bool has_direction;
};

KindColumns columns_of(BusRecordKind kind) {
    switch (kind) {
    case BusRecordKind::CanDataFrame: return {"CAN", "data", true, true};
    case BusRecordKind::CanRemoteFrame: return {"CAN", "remote", true, true};
    case BusRecordKind::CanErrorFrame: return {"CAN", "error", false, false};
    case BusRecordKind::LinFrame: return {"LIN", "lin", true, true};
    case BusRecordKind::LinChecksumError: return {"LIN", "lin checksum error", true, true};
    case BusRecordKind::LinReceiveError: return {"LIN", "lin receive error", true, false};
    case BusRecordKind::LinTransmissionError: return {"LIN", "lin transmission error", true, false};
    case BusRecordKind::LinSyncError: return {"LIN", "lin sync error", false, false};
    default: return {"", "", false, false};
    }
}

std::string_view error_type_name(uint32_t error_type) {
    constexpr std::string_view kNames[] = {"unknown", "bit", "form", "stuff", "crc", "ack"};
    return error_type < std::size(kNames) ? kNames[error_type] : kNames[0];
}

// Six digits of microseconds.
char* put_micros(char* out, uint32_t micros) {
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + micros % 10);
        micros /= 10;
    }
    return out + 6;
}

}  // namespace

char* CsvRowWriter::put_times(char* out, int64_t micros) {
    if (micros < 0) {
        char* p = put_iso_time(out, micros);
        *p++ = ',';
        return put_epoch_seconds(p, micros, kEpochDigits);
    }
    const int64_t second = micros / 1'000'000;
    const auto fraction = static_cast<uint32_t>(micros % 1'000'000);
    if (second != second_) {
        second_ = second;
        char text[kIsoTimeLength];
        put_iso_time(text, second * 1'000'000);
        std::memcpy(iso_second_, text, sizeof iso_second_);
        char* end = put_epoch_seconds(epoch_second_, second * 1'000'000, kEpochDigits);
        epoch_length_ = static_cast<size_t>(end - epoch_second_) - 6;  // up to the point
    }
    char* p = put(out, {iso_second_, sizeof iso_second_});
    p = put_micros(p, fraction);
    *p++ = 'Z';
    *p++ = ',';
    p = put(p, {epoch_second_, epoch_length_});
    return put_micros(p, fraction);
}

size_t CsvRowWriter::format(char* out, const BusRecord& record) {
    const KindColumns columns = columns_of(record.kind);
    const bool can = columns.bus == "CAN";
    const bool error = record.kind == BusRecordKind::CanErrorFrame;
    const bool remote = record.kind == BusRecordKind::CanRemoteFrame;
    const CanDetails& details = record.details.can;
    char* p = put_times(out, epoch_micros(record.timestamp));
    *p++ = ',';
    p = put(p, columns.bus);
    *p++ = ',';
    p = put_unsigned(p, error ? record.details.error.bus_channel : record.bus_channel);
    *p++ = ',';
    if (columns.has_id) p = put_hex(p, record.id, !can ? 2 : details.ide ? 8 : 3);
    *p++ = ',';
    if (can && !error) p = put_flag(p, details.ide);
    *p++ = ',';
    if (columns.has_direction) {
        const uint8_t transmitted = can ? details.dir : record.details.lin.dir;
        p = put(p, transmitted ? "Tx" : "Rx");
    }
    *p++ = ',';
    p = put(p, columns.kind);
    *p++ = ',';
    if (error) p = put(p, error_type_name(record.details.error.error_type));
    *p++ = ',';
    if (can && !error) {
        p = put_flag(p, details.edl);
        *p++ = ',';
        p = put_flag(p, details.brs);
        *p++ = ',';
        p = put_flag(p, details.esi);
        *p++ = ',';
        p = put_unsigned(p, details.dlc);
    } else {
        p = put(p, ",,,");
    }
    *p++ = ',';
    p = put_unsigned(p, static_cast<unsigned>(record.data.size()));
    *p++ = ',';
    if (!remote) p = put_data_bytes(p, record.data.data(), record.data.size());
    return static_cast<size_t>(put(p, "\r\n") - out);
}

}  // namespace tracemill
