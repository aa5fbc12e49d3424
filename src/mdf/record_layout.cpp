// Preparing the record layouts of a data group when it has been loaded.
#include "mdf/record_layout.h"

#include <cstdint>

#include "mdf/blocks.h"
#include "mdf/group_plan.h"

namespace tracemill {

namespace {

// Finds the first decoder with a signal data reference and resolves what it
// points at, so the reader needs no lookups per record.
void resolve_signal_source(RecordLayout& layout) {
    const ChannelDecoderList& decoders = *layout.decoders;
    for (size_t i = 0; i < decoders.size(); ++i) {
        const ChannelDecoder& decoder = decoders[i];
        if (!decoder.data_link) continue;
        layout.signal_decoder = static_cast<int32_t>(i);
        // A copy beside the layout saves reaching into the decoder list per record.
        if (decoder.load_record_size == static_cast<uint64_t>(layout.record_size)) layout.signal_load = decoder.load;
        if (DataBlock* sd = block_as<SdBlock>(decoder.data_link)) {
            layout.signal_source = SignalSource::SdBlock;
            layout.signal_block = sd;
        } else if (const CgBlock* vlsd = block_as<CgBlock>(decoder.data_link)) {
            layout.signal_source = SignalSource::VlsdGroup;
            layout.vlsd_record_id = vlsd->record_id;
        } else {
            layout.signal_source = SignalSource::Other;
        }
        return;
    }
}

// False when the group's plan cannot be made.
bool make_layout(const CgBlock& group, GroupPlans& plans, RecordLayout& layout) {
    layout.record_id = group.record_id;
    layout.cycle_count = group.cycle_count;
    if (group.is_vlsd()) {
        layout.record_size = -1;
        return true;
    }
    // Sizes beyond what 31 bits hold cannot be records of a real file; they
    // are kept as the largest size, which no data block can satisfy.
    const uint64_t size = uint64_t{group.data_bytes} + group.inval_bytes;
    layout.record_size = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
    const GroupPlan* plan = plans.plan_for(group);
    if (!plan) return false;
    layout.decoders = &plan->decoders;
    layout.read_plan = &plan->read_plan;
    layout.frame_decoder = plan->frame_decoder;
    resolve_signal_source(layout);
    return true;
}

}  // namespace

bool prepare_record_layouts(const DgBlock& group, GroupPlans& plans, RecordLayouts& layouts) {
    layouts.clear();
    bool any_registered = false;
    uint64_t first_id = 0;
    for (const BlockRef& ref : group.channel_groups) {
        const CgBlock* channel_group = block_as<CgBlock>(ref);
        if (!channel_group) continue;
        RecordLayout layout;
        if (!make_layout(*channel_group, plans, layout)) return false;  // no memory for its plan
        const uint64_t id = layout.record_id;
        // A record id met again stops registration: later groups stay out.
        if (!layouts.insert(id, std::move(layout))) break;
        if (!any_registered) {
            any_registered = true;
            first_id = id;
        }
    }

    // Without record ids every record belongs to one group: keep the first
    // registered group's layout under id 0.
    if (group.record_id_size == 0 && !layouts.empty() && !layouts.find(0)) {
        RecordLayout kept = *layouts.find(first_id);
        layouts.clear();
        layouts.insert(0, std::move(kept));
    }
    return true;
}

}  // namespace tracemill
