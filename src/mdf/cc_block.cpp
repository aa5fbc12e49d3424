// Conversions: the rule that turns a channel's raw value into a physical one.
#include "mdf/block_fields.h"
#include "mdf/blocks.h"

namespace tracemill {

bool CcBlock::read_data(FieldReader& fields) {
    if (!(fields.read_u8(conversion_type) && fields.read_u8(precision) && fields.read_u16(flags) &&
          fields.read_u16(ref_count) && fields.read_u16(val_count) && read_f64(fields, phy_range_min) &&
          read_f64(fields, phy_range_max)))
        return false;
    // val_count is 16 bits wide: at most 512 KiB, whatever the file says.
    values.resize(val_count);
    for (double& value : values)
        if (!read_f64(fields, value)) return false;
    return true;
}

}  // namespace tracemill
