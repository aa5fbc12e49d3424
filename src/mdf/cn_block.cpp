// Channels: where one signal sits in a record and what names, converts and sources it.
#include "mdf/block_fields.h"
#include "mdf/block_reader.h"

namespace tracemill {

namespace {
enum CnLink { kNextChannel, kComposition, kName, kSource, kConversion, kSignalData, kUnit, kComment };
}

bool CnBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_child_chain(stream, links[kComposition], cache, composition) ||
        !read_ref(stream, links[kName], cache, name) || !read_ref(stream, links[kSource], cache, source) ||
        !read_ref(stream, links[kConversion], cache, conversion) ||
        !read_ref(stream, links[kSignalData], cache, data) || !read_ref(stream, links[kUnit], cache, unit) ||
        !read_ref(stream, links[kComment], cache, comment))
        return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    return fields && fields->read_u8(channel_type) && fields->read_u8(sync_type) && fields->read_u8(data_type) &&
           fields->read_u8(bit_offset) && fields->read_u32(byte_offset) && fields->read_u32(bit_count) &&
           fields->read_u32(flags) && fields->read_u32(inval_bit_pos) && fields->read_u8(precision) &&
           fields->skip(1) && fields->read_u16(attachment_count) && read_f64(*fields, val_range_min) &&
           read_f64(*fields, val_range_max) && read_f64(*fields, limit_min) && read_f64(*fields, limit_max) &&
           read_f64(*fields, limit_ext_min) && read_f64(*fields, limit_ext_max);
}

void CnBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(name, out);
    collect(data, out);
    collect(conversion, out);
    collect(source, out);
    collect(unit, out);
    collect(composition, out);
}

void CnBlock::drop_refs(std::vector<BlockRef>& out) {
    move_ref(comment, out);
    move_ref(name, out);
    move_ref(data, out);
    move_ref(conversion, out);
    move_ref(source, out);
    move_ref(unit, out);
    move_list(composition, out);
}

}  // namespace tracemill
