// The time-ordered sequence of bus records of one opened file.
#pragma once

#include <memory>
#include <span>

#include "mdf/bus_record.h"
#include "mdf/group_end.h"

namespace tracemill {

struct MdfFile;
struct HdBlock;
class RecordIterator;
struct RecordIteratorDeleter {
    void operator()(RecordIterator* iterator) const;
};
using RecordIteratorPtr = std::unique_ptr<RecordIterator, RecordIteratorDeleter>;

// None only when the file has no header block or memory runs out.
RecordIteratorPtr begin_records(MdfFile& file);
// The records of the data groups below a header block.
RecordIteratorPtr begin_records(const HdBlock& header);
// The record to consume next, none when exhausted; valid until next_record.
const BusRecord* current(const RecordIterator& iterator);
void next_record(RecordIterator& iterator);
void end_records(RecordIteratorPtr iterator);

// Known once current() gave none: the data groups whose records did not reach
// their clean end, in the order they ended. Empty when every group was read
// to its clean end, so every record of the file was handed out.
std::span<const GroupEnd> early_ends(const RecordIterator& iterator);

// True when reading the file's data failed (an error already logged): the
// records handed out may be incomplete, and the file must fail.
bool read_failed(const RecordIterator& iterator);

// Seconds added to every record's timestamp: the file's start time shifted
// by its time zone and daylight saving offsets.
double time_offset(const RecordIterator& iterator);

}  // namespace tracemill
