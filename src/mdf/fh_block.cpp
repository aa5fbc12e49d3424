// File history entries: one per tool that wrote the file, each with a comment.
#include "mdf/block_fields.h"
#include "mdf/blocks.h"

namespace tracemill {

bool FhBlock::read_data(FieldReader& fields) {
    return fields.read_u64(time_ns) && read_i16(fields, tz_offset_min) && read_i16(fields, dst_offset_min) &&
           fields.read_u8(time_flags);
}

}  // namespace tracemill
