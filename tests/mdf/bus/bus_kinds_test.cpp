// Finding a group's bus event from its channel names, and a channel's role.
#include "mdf/bus/bus_kinds.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mdf/bus/can.h"
#include "mdf/bus/lin.h"

namespace tracemill {
namespace {

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
    const BusEvent* event = bus_event_of(list);
    EXPECT_EQ(event ? event->kind : BusRecordKind::Unsupported, GetParam().kind);
    EXPECT_EQ(select_frame_decoder(list), event ? event->decode : decode_unsupported);
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
    const std::pair<const char*, int> cases[] = {
        {"Timestamp", kTimestampRole},
        {"timestamp", kNoRole},
        {"CAN_DataFrame.ID", can::Id},
        {"CAN_RemoteFrame.ID", can::Id},
        {"CAN_ErrorFrame.ID", kNoRole},
        {"CAN_DataFrame.ID ", kNoRole},
        {"CAN_ErrorFrame.BusChannel", can::BusChannel},
        {"CAN_RemoteFrame.DataBytes", kNoRole},
        {"LIN_Frame.ReceivedDataByteCount", lin::ReceivedDataByteCount},
        {"LIN_ReceiveError.ID", lin::Id},
        {"LIN_SyncError.BusChannel", lin::BusChannel},
        {"LIN_SyncError.ID", kNoRole},
        {"", kNoRole},
    };
    for (const auto& [name, role] : cases) EXPECT_EQ(channel_role(name), role) << '"' << name << '"';
}

}  // namespace
}  // namespace tracemill
