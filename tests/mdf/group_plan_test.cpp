// Making a channel group's decoding plan from its channel blocks.
#include "mdf/group_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mdf/blocks.h"
#include "mdf/bus/can.h"
#include "mdf/block_test_support.h"
#include "mdf/frame_test_support.h"
#include "mdf/record_layout.h"

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

std::shared_ptr<CgBlock> group_of(std::vector<std::shared_ptr<CnBlock>> channels, uint32_t data_bytes) {
    auto group = std::make_shared<CgBlock>();
    group->header.kind = BlockKind::CG;
    group->channels.assign(channels.begin(), channels.end());
    group->data_bytes = data_bytes;
    return group;
}

TEST(GroupPlan, SharedCompositionGivesEachChannelBlockOnce) {
    // W(k) composes X(k) and Y(k), which both compose W(k-1): 2^12 paths to W(0).
    std::shared_ptr<CnBlock> w = channel("CAN_DataFrame.ID");
    for (int k = 1; k <= 12; ++k) {
        auto x = channel("X"), y = channel("Y"), composed = channel("W");
        x->composition = {w};
        y->composition = {w};
        composed->composition = {x, y};
        w = composed;
    }
    GroupPlan plan;
    build_group_plan(*group_of({channel("Timestamp", 4, 0, 0, 64), w}, 16), plan);
    ASSERT_EQ(plan.decoders.size(), 2u);
    EXPECT_EQ(plan.decoders[1].name, "CAN_DataFrame.ID");
}

TEST(GroupPlan, MoreChannelsThanRecordBitsAreRefused) {
    std::vector<std::shared_ptr<CnBlock>> channels;
    for (int i = 0; i < 9; ++i) channels.push_back(channel("CAN_DataFrame.ID"));
    GroupPlan plan;
    const std::string log = testing_support::captured_log([&] { build_group_plan(*group_of(channels, 1), plan); });
    EXPECT_THAT(log, ::testing::HasSubstr("has more channels than its records have bits; its records are not read"));
    EXPECT_TRUE(plan.decoders.empty());
    EXPECT_EQ(plan.frame_decoder, decode_unsupported);
    channels.pop_back();  // eight channels in eight bits are fine
    build_group_plan(*group_of(channels, 1), plan);
    EXPECT_EQ(plan.decoders.size(), 8u);
}

TEST(GroupPlans, DataGroupsSharingAChannelGroupShareItsDecoders) {
    const auto shared = group_of({channel("Timestamp", 4, 0, 0, 64), channel("CAN_DataFrame.ID", 0, 8, 0, 32)}, 12);
    GroupPlans plans;
    std::vector<RecordLayouts> layouts(3);
    for (RecordLayouts& of_group : layouts) {
        DgBlock group;
        group.header.kind = BlockKind::DG;
        group.channel_groups = {shared};
        prepare_record_layouts(group, plans, of_group);
    }
    for (const RecordLayouts& of_group : layouts) {
        ASSERT_NE(of_group.find(0), nullptr);
        EXPECT_EQ(of_group.find(0)->decoders, layouts[0].find(0)->decoders);
    }
}

}  // namespace
}  // namespace tracemill
