// Temporary stand-in until record iteration lands: no records.
// The record iterator replaces this file.
#include "mdf/record_iterator.h"

namespace tracemill {

class RecordIterator {};
void RecordIteratorDeleter::operator()(RecordIterator* iterator) const { delete iterator; }
RecordIteratorPtr begin_records(MdfFile&) { return nullptr; }
const BusRecord* current(const RecordIterator&) { return nullptr; }
void next_record(RecordIterator&) {}
void end_records(RecordIteratorPtr) {}

}  // namespace tracemill
