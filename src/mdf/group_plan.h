// The decoding plan of a channel group: its channel decoders, the read plan
// worked out with them, and its frame decoder. Blocks hold only what is on
// disk; the plans are made from them once the file is open, one per channel
// group however many data groups link it, and the record iteration owns them.
#pragma once

#include <memory>

#include "common/hash_map.h"
#include "mdf/channel_decoder.h"

namespace tracemill {

struct CgBlock;

struct GroupPlan {
    ChannelDecoderList decoders;  // in channel order, composition members expanded
    ChannelReadPlan read_plan;    // points into `decoders`
    FrameDecoder frame_decoder = nullptr;
};

// The plans of one file's channel groups, each made at its first request.
// A plan stays where it is until the set goes.
class GroupPlans {
public:
    // None only when memory runs out.
    const GroupPlan* plan_for(const CgBlock& group);

private:
    HashMap<const CgBlock*, std::unique_ptr<GroupPlan>> plans_;
};

// Makes the plan of `group`.
void build_group_plan(const CgBlock& group, GroupPlan& plan);

}  // namespace tracemill
