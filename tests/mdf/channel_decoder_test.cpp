// Channel decoders: built from channel blocks, read by value, and read
// through a group's read plan, which must give exactly what the general path
// gives for every frame decoder over random groups and records.
#include "mdf/channel_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mdf/blocks.h"
#include "mdf/bus/can.h"
#include "mdf/bus/lin.h"
#include "mdf/frame_test_support.h"

namespace tracemill {
namespace {

using ::testing::HasSubstr;

using testing_support::channel;

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
    add_channel_decoder(*channel("Timestamp", c.data_type), list);
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
    add_channel_decoder(*cn, list);
    cn->channel_type = CnBlock::kTypeVariableLength;
    add_channel_decoder(*cn, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].bit_position, 3u * 8 + 5);
    EXPECT_EQ(list[0].bit_count, 64u);
    EXPECT_EQ(list[0].role, can::DataBytes);
    EXPECT_EQ(list[0].name, "CAN_DataFrame.DataBytes");
    EXPECT_EQ(list[0].conversion.apply(10), 21.5);
    EXPECT_EQ(list[0].data_link, nullptr);
    EXPECT_EQ(list[1].data_link, sd);
}

TEST(FloatChannels, ThirtyTwoBitFloatsAreSinglePrecision) {
    for (bool little_endian : {true, false}) {
        const auto decoders = testing_support::make_decoders({{"Timestamp", 0, 32, ValueKind::Float, little_endian}});
        const uint32_t bits = std::bit_cast<uint32_t>(1.5f);
        testing_support::RecordBytes record(4);
        if (little_endian) record.put(0, bits, 4);
        else record.put(0, __builtin_bswap32(bits), 4);
        EXPECT_EQ(channel_value(decoders[0], record.bytes()), 1.5) << "little_endian " << little_endian;
    }
}

std::vector<uint8_t> random_bytes(std::mt19937_64& random, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

// Channel names per event kind, plus one no kind has.
const std::vector<std::string>& names_of(BusRecordKind kind) {
    static const std::vector<std::vector<std::string>> names = {
        {},
        {"CAN_DataFrame.BusChannel", "CAN_DataFrame.ID", "CAN_DataFrame.IDE", "CAN_DataFrame.DLC",
         "CAN_DataFrame.DataLength", "CAN_DataFrame.Dir", "CAN_DataFrame.EDL", "CAN_DataFrame.ESI",
         "CAN_DataFrame.BRS", "CAN_DataFrame.DataBytes"},
        {"CAN_RemoteFrame.BusChannel", "CAN_RemoteFrame.ID", "CAN_RemoteFrame.IDE", "CAN_RemoteFrame.DLC",
         "CAN_RemoteFrame.DataLength", "CAN_RemoteFrame.Dir"},
        {"CAN_ErrorFrame.BusChannel", "CAN_ErrorFrame.ErrorType"},
        {"LIN_Frame.BusChannel", "LIN_Frame.ID", "LIN_Frame.Dir", "LIN_Frame.DataLength",
         "LIN_Frame.ReceivedDataByteCount", "LIN_Frame.DataBytes"},
    };
    return names[static_cast<size_t>(kind)];
}

constexpr BusRecordKind kGroupKinds[] = {BusRecordKind::CanDataFrame, BusRecordKind::CanRemoteFrame,
                                         BusRecordKind::CanErrorFrame, BusRecordKind::LinFrame};

Conversion random_conversion(std::mt19937_64& random) {
    switch (random() % 6) {
    case 0: {
        const double values[] = {static_cast<double>(random() % 7) - 3, 0.5 * static_cast<double>(random() % 5)};
        return make_conversion(1, values, 2);
    }
    case 1: {
        std::vector<double> values;
        for (int i = 0; i < 6; ++i) values.push_back(static_cast<double>(random() % 4));
        return make_conversion(5, values.data(), values.size());
    }
    default: return Conversion{};
    }
}

// A group mostly of one kind's channels, sometimes with a stranger among
// them, at random places, widths, byte orders, value kinds and conversions.
ChannelDecoderList random_group(std::mt19937_64& random, BusRecordKind kind, uint64_t record_size) {
    ChannelDecoderList decoders;
    const auto& names = names_of(kind);
    const size_t channels = 1 + random() % 14;
    for (size_t i = 0; i < channels; ++i) {
        ChannelDecoder decoder;
        const uint64_t pick = random() % 20;
        decoder.name = pick == 0 ? "Timestamp" : pick == 1 ? "Other.Channel" : names[random() % names.size()];
        if (pick == 2) decoder.name = names_of(kGroupKinds[random() % 4])[0];  // another kind's channel
        decoder.role = channel_role(decoder.name);
        decoder.bit_position = random() % (record_size * 8 + 4);
        decoder.bit_count = random() % 4 == 0 ? 1 + random() % 64 : 1 + random() % 12;
        decoder.little_endian = random() % 4 != 0;
        const uint64_t value_kind = random() % 8;
        if (value_kind == 0) {
            decoder.value_kind = ValueKind::Float;
            decoder.bit_count = random() % 2 ? 64 : 32;
        } else if (decoder.name.ends_with(".DataBytes")) {
            decoder.value_kind = random() % 5 ? ValueKind::Bytes : ValueKind::Unsigned;
            decoder.bit_position = 8 * (random() % record_size);
            decoder.bit_count = 8 * (random() % 9);
            if (random() % 2) decoder.data_link = testing_support::some_signal_block();
        }
        decoder.conversion = random_conversion(random);
        decoders.push_back(std::move(decoder));
    }
    return decoders;
}

bool same_value(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

::testing::AssertionResult same_records(const BusRecord& a, const BusRecord& b) {
    if (!same_value(a.timestamp, b.timestamp)) return ::testing::AssertionFailure() << "timestamp";
    if (a.bus_channel != b.bus_channel) return ::testing::AssertionFailure() << "bus channel";
    if (a.id != b.id) return ::testing::AssertionFailure() << "id";
    if (a.data != b.data) return ::testing::AssertionFailure() << "data";
    if (a.kind != b.kind) return ::testing::AssertionFailure() << "kind";
    if (std::memcmp(&a.details, &b.details, sizeof a.details) != 0) return ::testing::AssertionFailure() << "details";
    return ::testing::AssertionSuccess();
}

constexpr FrameDecoder kAllDecoders[] = {
    decode_can_data_frame,   decode_can_remote_frame,      decode_can_error_frame,
    decode_lin_frame,        decode_lin_checksum_error,    decode_lin_receive_error,
    decode_lin_transmission_error, decode_lin_sync_error,
};

TEST(ChannelReadPlan, FrameDecodersGiveWhatTheGeneralPathGives) {
    std::mt19937_64 random(5);
    int decoded = 0;
    for (int group = 0; group < 3000; ++group) {
        const BusRecordKind kind = kGroupKinds[random() % 4];
        const uint64_t record_size = 1 + random() % 40;
        // The general path: loads and plan made for records of another size,
        // so every field goes through the bit reader.
        ChannelDecoderList general = random_group(random, kind, record_size);
        ChannelDecoderList planned = general;
        const ChannelReadPlan general_plan = plan_channel_reads(general, record_size + 1);
        const ChannelReadPlan plan = plan_channel_reads(planned, record_size);

        for (int r = 0; r < 8; ++r) {
            const std::vector<uint8_t> record = random_bytes(random, record_size);
            std::vector<uint8_t> payload = random_bytes(random, random() % 70);
            const std::vector<uint8_t> signal =
                testing_support::signal_entry(static_cast<uint32_t>(random() % 80), payload);
            for (FrameDecoder decoder : kAllDecoders) {
                BusRecord expected, by_list, by_plan;
                // Reused records start dirty, as the reader's do.
                by_list.data = by_plan.data = expected.data = {9, 9, 9};
                RawRecord raw{record, signal, &general, &general_plan};
                const bool ok = decoder(raw, expected);

                // Planned loads without the plan's size, then both.
                raw = {record, signal, &planned, &general_plan};
                ASSERT_EQ(decoder(raw, by_list), ok) << "group " << group;
                raw.read_plan = &plan;
                ASSERT_EQ(decoder(raw, by_plan), ok) << "group " << group;
                if (!ok) continue;
                ++decoded;
                EXPECT_TRUE(same_records(by_list, expected)) << "planned loads, group " << group;
                EXPECT_TRUE(same_records(by_plan, expected)) << "read plan, group " << group;
            }
        }
    }
    // Enough records decode for the comparison to mean something.
    EXPECT_GT(decoded, 2000) << decoded;
}

}  // namespace
}  // namespace tracemill
