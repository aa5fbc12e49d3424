// Channel groups: the channels of one record layout within a data group.
#include "common/log.h"
#include "mdf/block_reader.h"
#include "mdf/channel_decoder.h"
#include "mdf/block_fields.h"

namespace tracemill {

namespace {
enum CgLink { kNextChannelGroup, kFirstChannel, kAcqName, kAcqSource, kFirstSampleReduction, kComment };
}

bool CgBlock::finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
    if (!read_child_chain(stream, links[kFirstChannel], cache, channels) ||
        !read_ref(stream, links[kAcqName], cache, acq_name) || !read_ref(stream, links[kAcqSource], cache, acq_source))
        return false;
    if (links[kFirstSampleReduction] != kNilLink) {
        TM_LOG(kError, "Unsupported parameter present in file");
        return false;
    }
    if (!read_ref(stream, links[kComment], cache, comment)) return false;

    std::optional<FieldReader> fields = data_section_fields(stream, data_start());
    if (!fields) return false;
    if (!(fields->read_u64(record_id) && fields->read_u64(cycle_count) && fields->read_u16(flags) &&
          fields->read_u16(path_separator) && fields->skip(4) && fields->read_u32(data_bytes) &&
          fields->read_u32(inval_bytes)))
        return false;
    build_channel_decoders(*this);
    return true;
}

void CgBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    collect(comment, out);
    collect(acq_source, out);
    collect(acq_name, out);
    collect(channels, out);
}

void CgBlock::drop_refs(std::vector<BlockRef>& out) {
    for (ChannelDecoder& decoder : decoders) move_ref(decoder.data_link, out);
    decoders.clear();
    move_ref(comment, out);
    move_ref(acq_source, out);
    move_ref(acq_name, out);
    move_list(channels, out);
}

}  // namespace tracemill
