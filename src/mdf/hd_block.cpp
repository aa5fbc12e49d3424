// The header block: the root of data groups, file history and the file comment.
#include "common/log.h"
#include "mdf/block_fields.h"
#include "mdf/block_reader.h"

namespace tracemill {

namespace {
enum HdLink { kFirstDataGroup, kFirstFileHistory, kChannelHierarchy, kAttachment, kEvent, kComment };
}

bool HdBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {

    if (!read_child_chain(stream, links[kFirstFileHistory], cache, file_history)) return false;
    if (!read_child_chain(stream, links[kFirstDataGroup], cache, data_groups)) return false;
    if (links[kChannelHierarchy] != kNilLink || links[kAttachment] != kNilLink || links[kEvent] != kNilLink) {
        TM_LOG(kError, "Unsupported parameter present in file");
        return false;
    }
    if (!read_ref(stream, links[kComment], cache, comment)) return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    return fields && fields->read_u64(start_time_ns) && read_i16(*fields, tz_offset_min) &&
           read_i16(*fields, dst_offset_min) && fields->read_u8(time_flags) && fields->read_u8(time_class) &&
           fields->read_u8(flags) && fields->skip(1) && read_f64(*fields, start_angle_rad) &&
           read_f64(*fields, start_distance_m);
}

void HdBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(data_groups, out);
    collect(file_history, out);
}

void HdBlock::drop_refs(std::vector<BlockRef>& out) {
    move_ref(comment, out);
    move_list(data_groups, out);
    move_list(file_history, out);
}

}  // namespace tracemill
