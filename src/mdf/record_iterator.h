// The time-ordered sequence of bus records of one opened file.
#pragma once

#include <memory>

#include "mdf/bus_record.h"

namespace tracemill {

struct MdfFile;
class RecordIterator;

// None only when the file has no header block or memory runs out.
std::unique_ptr<RecordIterator> begin_records(MdfFile& file);
// The record to consume next, none when exhausted; valid until next_record.
const BusRecord* current(const RecordIterator& iterator);
void next_record(RecordIterator& iterator);
void end_records(std::unique_ptr<RecordIterator> iterator);

}  // namespace tracemill
