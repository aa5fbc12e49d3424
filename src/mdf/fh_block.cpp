// File history entries: one per tool that wrote the file, each with a comment.
#include "mdf/block_fields.h"
#include "mdf/block_reader.h"

namespace tracemill {

bool FhBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_ref(stream, links[1], cache, comment)) return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    return fields && fields->read_u64(time_ns) && read_i16(*fields, tz_offset_min) &&
           read_i16(*fields, dst_offset_min) && fields->read_u8(time_flags);
}

void FhBlock::collect_refs(std::vector<const MdfBlock*>& out) const { collect(comment, out); }

void FhBlock::drop_refs(std::vector<BlockRef>& out) { move_ref(comment, out); }

}  // namespace tracemill
