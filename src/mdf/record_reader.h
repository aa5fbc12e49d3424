// Reads the records of one data group, one at a time, and decodes each with
// its channel group's frame decoder into a BusRecord the reader reuses.
#pragma once

#include <cstdint>
#include <vector>

#include "mdf/bus_record.h"
#include "mdf/group_end.h"
#include "mdf/record_layout.h"

namespace tracemill {

struct DgBlock;
struct DataBlock;

// A data block and, when the file is held in memory, its data section's
// bytes; fixed while the records are read.
struct BlockSection {
    DataBlock* block = nullptr;
    const uint8_t* memory = nullptr;
    uint64_t memory_size = 0;

    static BlockSection of(DataBlock* block);
};

// Largest signal entry the reader takes; longer entries count as no signal data.
inline constexpr uint32_t kMaxSignalLength = 128;

struct RecordReader {
    DgBlock* data_group = nullptr;
    RecordLayouts layouts;      // of the data group's channel groups, by record id
    uint32_t group_number = 0;  // 1-based place in the file's data groups, for messages
    uint64_t position = 0;      // within the data section of the group's DT block
    RawRecord raw;
    std::vector<uint8_t> record_bytes;  // used when the data is not in memory
    std::vector<uint8_t> signal_bytes;
    BlockSection signal;  // the SD block of the last signal entry read
    FrameDecoder frame_decoder = nullptr;
    BusRecord output;

    // Fixed when the reader starts.
    DataBlock* data = nullptr;
    BlockSection section;    // of `data`
    uint64_t data_size = 0;  // of `data`'s section
    bool by_record_id = false;  // records carry a record id
    const RecordLayout* sole_layout = nullptr;  // the layout of a group without record ids
    const RecordLayout* last_layout = nullptr;  // saves the lookup for runs of one record id

    // Set before the first read when an earlier data group of the file read
    // this group's data or signal data block: a file sharing one block among
    // many groups would otherwise yield its records once per group.
    bool data_already_read = false;

    uint64_t records_delivered = 0;
    RecordEnd end = RecordEnd::None;
    uint64_t unknown_record_id = 0;
};

// Once the reader has no more records: whether its group ended cleanly, and how it ended.
bool ended_cleanly(const RecordReader& reader);
GroupEnd group_end(const RecordReader& reader);

// Asks for what the next read of `reader` touches to be brought into the
// cache: its next record's bytes and the layout and read plan it used last.
// Called for the group whose record is handed out, since that group is read
// next; with many groups its data has usually left the cache by then.
void prefetch_next_read(const RecordReader& reader);

// Starts from the first record; none when the group yields nothing.
BusRecord* reader_first(RecordReader& reader);
// The next record; none when the group's records have ended.
BusRecord* reader_next(RecordReader& reader);

}  // namespace tracemill
