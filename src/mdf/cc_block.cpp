// Conversions: the rule that turns a channel's raw value into a physical one.
#include "mdf/block_fields.h"
#include "mdf/block_reader.h"

namespace tracemill {

namespace {
enum CcLink { kName, kUnit, kComment, kInverse };
}

bool CcBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_ref(stream, links[kName], cache, name) || !read_ref(stream, links[kUnit], cache, unit) ||
        !read_ref(stream, links[kComment], cache, comment) || !read_ref(stream, links[kInverse], cache, inverse))
        return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    if (!(fields && fields->read_u8(conversion_type) && fields->read_u8(precision) && fields->read_u16(flags) &&
          fields->read_u16(ref_count) && fields->read_u16(val_count) && read_f64(*fields, phy_range_min) &&
          read_f64(*fields, phy_range_max)))
        return false;
    // val_count is 16 bits wide: at most 512 KiB, whatever the file says.
    values.resize(val_count);
    for (double& value : values)
        if (!read_f64(*fields, value)) return false;
    return true;
}

void CcBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(name, out);
    collect(inverse, out);
    collect(unit, out);
}

void CcBlock::drop_refs(std::vector<BlockRef>& out) {
    move_ref(comment, out);
    move_ref(name, out);
    move_ref(inverse, out);
    move_ref(unit, out);
}

}  // namespace tracemill
