// Data groups: one data block holding the records of one or more channel groups.
#include "mdf/block_reader.h"
#include "mdf/record_layout.h"
#include "mdf/block_fields.h"

namespace tracemill {

namespace {
enum DgLink { kNextDataGroup, kFirstChannelGroup, kData, kComment };
}

bool DgBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_child_chain(stream, links[kFirstChannelGroup], cache, channel_groups) ||
        !read_ref(stream, links[kData], cache, data) || !read_ref(stream, links[kComment], cache, comment))
        return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    if (!fields) return false;
    if (!fields->read_u8(record_id_size)) return false;
    prepare_record_layouts(*this);
    return true;
}

void DgBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(data, out);
    collect(channel_groups, out);
}

void DgBlock::drop_refs(std::vector<BlockRef>& out) {
    record_layouts.clear();  // points into the channel groups
    move_ref(comment, out);
    move_ref(data, out);
    move_list(channel_groups, out);
}

}  // namespace tracemill
