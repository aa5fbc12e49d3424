// Making the decoding plans of channel groups.
#include "mdf/group_plan.h"

#include <new>

#include "mdf/blocks.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

void build_group_plan(const CgBlock& group, GroupPlan& plan) {
    plan.decoders.clear();
    for (const BlockRef& channel : group.channels)
        if (const CnBlock* cn = block_as<CnBlock>(channel)) add_channel_decoders(*cn, plan.decoders);
    plan.frame_decoder = select_frame_decoder(plan.decoders);
    plan.read_plan = plan_channel_reads(plan.decoders, uint64_t{group.data_bytes} + group.inval_bytes);
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
