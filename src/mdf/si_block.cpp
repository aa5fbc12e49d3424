// Source information: which bus (CAN, LIN, ...) a channel's values come from.
#include "mdf/block_fields.h"
#include "mdf/block_reader.h"

namespace tracemill {

namespace {
enum SiLink { kName, kPath, kComment };
}

bool SiBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_ref(stream, links[kName], cache, name) || !read_ref(stream, links[kPath], cache, path) ||
        !read_ref(stream, links[kComment], cache, comment))
        return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    return fields && fields->read_u8(source_type) && fields->read_u8(bus_type) && fields->read_u8(flags);
}

void SiBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(name, out);
    collect(path, out);
}

void SiBlock::drop_refs(std::vector<BlockRef>& out) {
    move_ref(comment, out);
    move_ref(name, out);
    move_ref(path, out);
}

}  // namespace tracemill
