// The header block: the root of data groups, file history and the file comment.
#include "mdf/block_fields.h"
#include "mdf/blocks.h"

namespace tracemill {

bool HdBlock::read_data(FieldReader& fields) {
    return fields.read_u64(start_time_ns) && read_i16(fields, tz_offset_min) && read_i16(fields, dst_offset_min) &&
           fields.read_u8(time_flags) && fields.read_u8(time_class) && fields.read_u8(flags) && fields.skip(1) &&
           read_f64(fields, start_angle_rad) && read_f64(fields, start_distance_m);
}

}  // namespace tracemill
