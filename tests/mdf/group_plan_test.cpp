// Making a channel group's decoding plan from its channel blocks.
#include "mdf/group_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mdf/blocks.h"
#include "mdf/bus/can.h"
#include "mdf/frame_test_support.h"

namespace tracemill {
namespace {

using testing_support::channel;

TEST(GroupPlan, ComposedChannelsGiveTheirMembersInOrder) {
    auto frame = channel("CAN_DataFrame");
    auto nested = channel("CAN_DataFrame.Flags");
    nested->composition = {channel("CAN_DataFrame.IDE"), channel("CAN_DataFrame.Dir")};
    frame->composition = {channel("CAN_DataFrame.ID"), nested, channel("CAN_DataFrame.DLC")};

    auto group = std::make_shared<CgBlock>();
    group->header.kind = BlockKind::CG;
    group->channels = {channel("Timestamp", 4, 0, 0, 64), frame};
    group->data_bytes = 16;
    GroupPlan plan;
    plan.decoders.push_back(ChannelDecoder{});  // rebuilt from scratch
    build_group_plan(*group, plan);

    std::vector<std::string> names;
    for (const ChannelDecoder& decoder : plan.decoders) names.push_back(decoder.name);
    EXPECT_THAT(names, ::testing::ElementsAre("Timestamp", "CAN_DataFrame.ID", "CAN_DataFrame.IDE",
                                              "CAN_DataFrame.Dir", "CAN_DataFrame.DLC"));
    EXPECT_EQ(plan.frame_decoder, decode_can_data_frame);
    EXPECT_EQ(plan.read_plan.record_size, 16u);
    EXPECT_EQ(plan.read_plan[can::Dir].decoder, &plan.decoders[3]);
}

TEST(GroupPlans, OnePlanPerChannelGroup) {
    auto first = std::make_shared<CgBlock>();
    first->header.kind = BlockKind::CG;
    first->channels = {channel("CAN_DataFrame.ID")};
    first->data_bytes = 1;
    auto second = std::make_shared<CgBlock>();
    second->header.kind = BlockKind::CG;
    GroupPlans plans;
    const GroupPlan* plan = plans.plan_for(*first);
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->decoders.size(), 1u);
    // Asked again, as by a second data group linking the same channel group.
    EXPECT_EQ(plans.plan_for(*first), plan);
    EXPECT_NE(plans.plan_for(*second), plan);
}

}  // namespace
}  // namespace tracemill
