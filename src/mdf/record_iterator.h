// The time-ordered sequence of bus records of one opened file.
#pragma once

#include <memory>

#include "mdf/bus_record.h"

namespace tracemill {

struct MdfFile;
class RecordIterator;
struct RecordIteratorDeleter {
    void operator()(RecordIterator* iterator) const;
};
using RecordIteratorPtr = std::unique_ptr<RecordIterator, RecordIteratorDeleter>;

// None only when the file has no header block or memory runs out.
RecordIteratorPtr begin_records(MdfFile& file);
// The record to consume next, none when exhausted; valid until next_record.
const BusRecord* current(const RecordIterator& iterator);
void next_record(RecordIterator& iterator);
void end_records(RecordIteratorPtr iterator);

}  // namespace tracemill
