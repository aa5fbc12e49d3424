// The time-ordered sequence of bus records of one opened file.
#pragma once

#include <memory>

#include "mdf/bus_record.h"

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

// Seconds added to every record's timestamp: the file's start time shifted
// by its time zone and daylight saving offsets.
double time_offset(const RecordIterator& iterator);

}  // namespace tracemill
