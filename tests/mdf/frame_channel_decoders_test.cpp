// Building channel decoders from channel blocks and choosing a group's
// frame decoder from its channel names.
#include "mdf/channel_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mdf/blocks.h"
#include "mdf/frame_decoders.h"
#include "mdf/group_plan.h"

namespace tracemill {
namespace {

using ::testing::HasSubstr;

BlockRef text_block(const std::string& text) {
    auto block = std::make_shared<TxBlock>();
    block->header.kind = BlockKind::TX;
    block->text = text;
    return block;
}

std::shared_ptr<CnBlock> channel(const std::string& name, uint8_t data_type = 0, uint32_t byte_offset = 0,
                                 uint8_t bit_offset = 0, uint32_t bit_count = 8) {
    auto block = std::make_shared<CnBlock>();
    block->header.kind = BlockKind::CN;
    if (!name.empty()) block->name = text_block(name);
    block->data_type = data_type;
    block->byte_offset = byte_offset;
    block->bit_offset = bit_offset;
    block->bit_count = bit_count;
    return block;
}

struct DataTypeCase {
    uint8_t data_type;
    ValueKind kind;
    bool little_endian;
    const char* warning;  // nullptr: none
};

class DataTypes : public ::testing::TestWithParam<DataTypeCase> {};

TEST_P(DataTypes, GiveValueKindAndByteOrder) {
    const DataTypeCase& c = GetParam();
    ChannelDecoderList list;
    ::testing::internal::CaptureStderr();
    add_channel_decoders(*channel("Timestamp", c.data_type), list);
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].value_kind, c.kind);
    EXPECT_EQ(list[0].little_endian, c.little_endian);
    if (c.warning) EXPECT_THAT(log, HasSubstr(c.warning));
    else EXPECT_EQ(log, "");
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DataTypes,
    ::testing::Values(DataTypeCase{0, ValueKind::Unsigned, true, nullptr},
                      DataTypeCase{1, ValueKind::Unsigned, false, nullptr},
                      DataTypeCase{4, ValueKind::Float, true, nullptr},
                      DataTypeCase{5, ValueKind::Float, false, nullptr},
                      DataTypeCase{10, ValueKind::Bytes, true, nullptr},
                      DataTypeCase{2, ValueKind::Unsigned, false, "Unsupported channel data type: 3"},
                      DataTypeCase{7, ValueKind::Unsigned, false, "Unsupported channel data type: 8"},
                      DataTypeCase{11, ValueKind::Unsigned, false, "Unsupported channel data type: 0"}));

TEST(ChannelDecoders, TakePositionRoleConversionAndSignalLink) {
    auto cn = channel("CAN_DataFrame.DataBytes", 10, 3, 5, 64);
    auto cc = std::make_shared<CcBlock>();
    cc->header.kind = BlockKind::CC;
    cc->conversion_type = 1;
    cc->values = {1.5, 2};
    cn->conversion = cc;
    auto sd = std::make_shared<SdBlock>();
    sd->header.kind = BlockKind::SD;
    cn->data = sd;

    ChannelDecoderList list;
    cn->channel_type = 0;  // fixed length: the signal link is not used
    add_channel_decoders(*cn, list);
    cn->channel_type = CnBlock::kTypeVariableLength;
    add_channel_decoders(*cn, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].bit_position, 3u * 8 + 5);
    EXPECT_EQ(list[0].bit_count, 64u);
    EXPECT_EQ(list[0].role, ChannelRole::DataBytes);
    EXPECT_EQ(list[0].name, "CAN_DataFrame.DataBytes");
    EXPECT_EQ(list[0].conversion.apply(10), 21.5);
    EXPECT_EQ(list[0].data_link, nullptr);
    EXPECT_EQ(list[1].data_link, sd);
}

TEST(ChannelDecoders, ComposedChannelsGiveTheirMembersInOrder) {
    auto frame = channel("CAN_DataFrame");
    auto nested = channel("CAN_DataFrame.Flags");
    nested->composition = {channel("CAN_DataFrame.IDE"), channel("CAN_DataFrame.Dir")};
    frame->composition = {channel("CAN_DataFrame.ID"), nested, channel("CAN_DataFrame.DLC")};

    auto group = std::make_shared<CgBlock>();
    group->header.kind = BlockKind::CG;
    group->channels = {channel("Timestamp", 4, 0, 0, 64), frame};
    GroupPlan plan;
    plan.decoders.push_back(ChannelDecoder{});  // rebuilt from scratch
    build_group_plan(*group, plan);

    std::vector<std::string> names;
    for (const ChannelDecoder& decoder : plan.decoders) names.push_back(decoder.name);
    EXPECT_THAT(names, ::testing::ElementsAre("Timestamp", "CAN_DataFrame.ID", "CAN_DataFrame.IDE",
                                              "CAN_DataFrame.Dir", "CAN_DataFrame.DLC"));
    EXPECT_EQ(frame_decoder_kind(plan.frame_decoder), BusRecordKind::CanDataFrame);
}

struct SelectCase {
    std::vector<std::string> names;
    BusRecordKind kind;
};

class FrameDecoderChoice : public ::testing::TestWithParam<SelectCase> {};

TEST_P(FrameDecoderChoice, FollowsTheSharedPrefix) {
    ChannelDecoderList list;
    for (const std::string& name : GetParam().names) {
        ChannelDecoder decoder;
        decoder.name = name;
        list.push_back(std::move(decoder));
    }
    EXPECT_EQ(frame_decoder_kind(select_frame_decoder(list)), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, FrameDecoderChoice,
    ::testing::Values(SelectCase{{"Timestamp", "CAN_DataFrame.ID", "CAN_DataFrame.DLC"}, BusRecordKind::CanDataFrame},
                      SelectCase{{"CAN_RemoteFrame.ID"}, BusRecordKind::CanRemoteFrame},
                      SelectCase{{"CAN_ErrorFrame.ErrorType"}, BusRecordKind::CanErrorFrame},
                      SelectCase{{"LIN_Frame.ID"}, BusRecordKind::LinFrame},
                      SelectCase{{"LIN_ChecksumError.ID"}, BusRecordKind::LinChecksumError},
                      SelectCase{{"LIN_ReceiveError.ID"}, BusRecordKind::LinReceiveError},
                      SelectCase{{"LIN_TransmissionError.ID"}, BusRecordKind::LinTransmissionError},
                      SelectCase{{"LIN_SyncError.BusChannel"}, BusRecordKind::LinSyncError},
                      SelectCase{{"CAN_DataFrame.DataBytes.Part"}, BusRecordKind::CanDataFrame},
                      SelectCase{{"CAN_DataFrame.ID", "LIN_Frame.ID"}, BusRecordKind::Unsupported},
                      SelectCase{{"Timestamp"}, BusRecordKind::Unsupported},
                      SelectCase{{}, BusRecordKind::Unsupported},
                      SelectCase{{"GPS.Latitude"}, BusRecordKind::Unsupported},
                      SelectCase{{"CAN_DataFrameX.ID"}, BusRecordKind::Unsupported},
                      SelectCase{{"can_dataframe.ID"}, BusRecordKind::Unsupported}));

TEST(ChannelRoles, ComeFromTheWholeExactName) {
    const std::pair<const char*, ChannelRole> cases[] = {
        {"Timestamp", ChannelRole::Timestamp},
        {"timestamp", ChannelRole::NoRole},
        {"CAN_DataFrame.ID", ChannelRole::Id},
        {"CAN_RemoteFrame.ID", ChannelRole::Id},
        {"CAN_ErrorFrame.ID", ChannelRole::NoRole},
        {"CAN_DataFrame.ID ", ChannelRole::NoRole},
        {"CAN_ErrorFrame.BusChannel", ChannelRole::BusChannel},
        {"CAN_RemoteFrame.DataBytes", ChannelRole::NoRole},
        {"LIN_Frame.ReceivedDataByteCount", ChannelRole::LinReceivedDataByteCount},
        {"LIN_ReceiveError.ID", ChannelRole::LinId},
        {"LIN_SyncError.BusChannel", ChannelRole::LinBusChannel},
        {"LIN_SyncError.ID", ChannelRole::NoRole},
        {"", ChannelRole::NoRole},
    };
    for (const auto& [name, role] : cases) EXPECT_EQ(channel_role(name), role) << '"' << name << '"';
}

}  // namespace
}  // namespace tracemill
