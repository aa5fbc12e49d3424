// Source information: which bus (CAN, LIN, ...) a channel's values come from.
#include "mdf/blocks.h"

namespace tracemill {

bool SiBlock::read_data(FieldReader& fields) {
    return fields.read_u8(source_type) && fields.read_u8(bus_type) && fields.read_u8(flags);
}

}  // namespace tracemill
