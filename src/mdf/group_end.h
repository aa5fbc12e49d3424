// How the records of one data group ended, as the record iteration reports
// it once a group has no more records.
//
// A group ends cleanly when its data ended between two records, or inside a
// record at the very end of the file (a logger that lost power mid-record:
// every record before it was read). Any other end leaves records of the
// group unread, and a failed read means the file's data could not be read
// at all.
#pragma once

#include <cstdint>

namespace tracemill {

// Why a data group's records ended; everything but CleanEnd is reported.
enum class RecordEnd : uint8_t {
    None,             // still reading
    CleanEnd,         // the data ended between two records, or the group has no data
    SeekFailed,       // the data block could not be positioned
    ReadFailed,       // reading the data failed: the file cannot be read
    CutShort,         // the data ended inside a record
    UnknownRecordId,  // a record id no channel group has
    RecordIdTooWide,  // record ids of more than 8 bytes
    EmptyRecords,     // records of size 0 would never advance
    OnlyVlsd,         // a group without record ids whose only group is VLSD
    NotDecoded,       // the frame decoder refused a record
    OutOfMemory,      // the group could not be set up for reading
    DataAlreadyRead,  // an earlier data group read its data or signal data block
};

// The reason as the warning about the group states it ("" for None and
// CleanEnd, and for UnknownRecordId, whose warning names the id).
const char* record_end_text(RecordEnd end);

// A data group whose records did not reach their clean end.
struct GroupEnd {
    uint32_t group_number = 0;     // 1-based place among the file's data groups
    uint64_t file_offset = 0;      // of its DG block
    uint64_t records_read = 0;     // records handed out before the end
    uint64_t records_expected = 0; // the channel groups' cycle counts; 0 when unknown
    RecordEnd end = RecordEnd::None;
    uint64_t unknown_record_id = 0;  // for UnknownRecordId
    // False for a group none of whose channel groups holds bus events: its
    // records were never meant for a trace, and its end is not warned about.
    bool holds_bus_data = true;
};

}  // namespace tracemill
