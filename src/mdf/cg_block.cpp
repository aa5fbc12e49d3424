// Channel groups: the channels of one record layout within a data group.
#include "mdf/blocks.h"

namespace tracemill {

bool CgBlock::read_data(FieldReader& fields) {
    return fields.read_u64(record_id) && fields.read_u64(cycle_count) && fields.read_u16(flags) &&
           fields.read_u16(path_separator) && fields.skip(4) && fields.read_u32(data_bytes) &&
           fields.read_u32(inval_bytes);
}

}  // namespace tracemill
