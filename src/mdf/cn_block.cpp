// Channels: where one signal sits in a record and what names, converts and sources it.
#include "mdf/block_fields.h"
#include "mdf/blocks.h"

namespace tracemill {

bool CnBlock::read_data(FieldReader& fields) {
    return fields.read_u8(channel_type) && fields.read_u8(sync_type) && fields.read_u8(data_type) &&
           fields.read_u8(bit_offset) && fields.read_u32(byte_offset) && fields.read_u32(bit_count) &&
           fields.read_u32(flags) && fields.read_u32(inval_bit_pos) && fields.read_u8(precision) && fields.skip(1) &&
           fields.read_u16(attachment_count) && read_f64(fields, val_range_min) && read_f64(fields, val_range_max) &&
           read_f64(fields, limit_min) && read_f64(fields, limit_max) && read_f64(fields, limit_ext_min) &&
           read_f64(fields, limit_ext_max);
}

}  // namespace tracemill
