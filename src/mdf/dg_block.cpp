// Data groups: one data block holding the records of one or more channel groups.
#include "mdf/blocks.h"

namespace tracemill {

bool DgBlock::read_data(FieldReader& fields) { return fields.read_u8(record_id_size); }

}  // namespace tracemill
