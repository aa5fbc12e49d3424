// Making the decoding plans of channel groups.
#include "mdf/group_plan.h"

#include <new>
#include <vector>

#include "common/log.h"
#include "mdf/block_reader.h"
#include "mdf/blocks.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace {

// Appends a decoder for every channel of the group, composed channels
// replaced by their members, depth first in link order. A channel block
// reached again (composition may share sub-graphs) is expanded only the first
// time, and the expansion stops once the group has more decoders than its
// records have bits: no real group has, and a crafted graph could otherwise
// ask for one decoder per path through it. False when it stopped.
bool expand_channels(const CgBlock& group, uint64_t max_decoders, ChannelDecoderList& decoders) {
    BlockSet expanded;
    std::vector<const CnBlock*> pending;
    for (auto it = group.channels.rbegin(); it != group.channels.rend(); ++it)
        if (const CnBlock* cn = block_as<CnBlock>(*it)) pending.push_back(cn);
    while (!pending.empty()) {
        const CnBlock* channel = pending.back();
        pending.pop_back();
        if (!expanded.insert(channel)) continue;
        if (channel->composition.empty()) {
            if (decoders.size() >= max_decoders) return false;
            add_channel_decoder(*channel, decoders);
            continue;
        }
        // Reversed, so the first member is expanded first.
        for (auto it = channel->composition.rbegin(); it != channel->composition.rend(); ++it)
            if (const CnBlock* member = block_as<CnBlock>(*it)) pending.push_back(member);
    }
    return true;
}

}  // namespace

void build_group_plan(const CgBlock& group, GroupPlan& plan) {
    plan.decoders.clear();
    const uint64_t record_size = uint64_t{group.data_bytes} + group.inval_bytes;
    if (!expand_channels(group, 8 * record_size, plan.decoders)) {
        TM_LOG(kWarn,
               "Channel group at offset %llu has more channels than its records have bits; its records are not read",
               static_cast<unsigned long long>(group.file_offset));
        plan.decoders.clear();
    }
    plan.frame_decoder = select_frame_decoder(plan.decoders);
    plan.read_plan = plan_channel_reads(plan.decoders, record_size);
}

const GroupPlan* GroupPlans::plan_for(const CgBlock& group) {
    if (std::unique_ptr<GroupPlan>* known = plans_.find(&group)) return known->get();
    std::unique_ptr<GroupPlan> plan(new (std::nothrow) GroupPlan);
    if (!plan) return nullptr;
    build_group_plan(group, *plan);
    const GroupPlan* made = plan.get();
    if (!plans_.insert(&group, std::move(plan))) return nullptr;
    return made;
}

}  // namespace tracemill
