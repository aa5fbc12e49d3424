// The reads worked out when a group's decoders are built must give exactly
// what the general path gives: planned field loads against the bit reader,
// and every frame decoder on planned decoders (with and without the group's
// read plan) against the same decoders read the general way, over random
// groups and records.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mdf/bit_reader.h"
#include "mdf/channel_decoder.h"
#include "mdf/field_load.h"
#include "mdf/frame_decoders.h"
#include "mdf/frame_test_support.h"

namespace tracemill {
namespace {

std::vector<uint8_t> random_bytes(std::mt19937_64& random, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(FieldLoad, PlannedLoadsReadWhatTheBitReaderReads) {
    std::mt19937_64 random(11);
    const uint64_t sizes[] = {1, 2, 3, 7, 8, 9, 12, 16, 24, 33};
    const uint64_t counts[] = {0, 1, 2, 3, 7, 8, 9, 13, 16, 31, 32, 33, 52, 53, 56, 57, 58, 63, 64, 65};
    for (uint64_t size : sizes) {
        const std::vector<uint8_t> bytes = random_bytes(random, size);
        const std::span<const uint8_t> view(bytes);
        for (uint64_t position = 0; position <= size * 8 + 9; ++position) {
            for (uint64_t count : counts) {
                for (bool little_endian : {true, false}) {
                    const FieldLoad load = plan_field_load(position, count, little_endian, size);
                    bool slow = false;
                    const uint64_t got = load_field(load, size, view, [&] {
                        slow = true;
                        return read_bits(view, position, count, little_endian);
                    });
                    ASSERT_EQ(got, read_bits(view, position, count, little_endian))
                        << "size " << size << " position " << position << " count " << count << " le "
                        << little_endian;
                    // Records of 8 bytes and more take every field that fits a word without the bit reader.
                    if (size >= 8 && count <= 57) {
                        EXPECT_FALSE(slow) << size << " " << position << " " << count;
                    }
                }
            }
        }
    }
}

TEST(FieldLoad, PlansForAnotherSizeAreNotUsed) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22};
    const FieldLoad load = plan_field_load(8, 16, true, 16);  // planned for 16-byte records
    bool slow = false;
    const uint64_t got = load_field(load, 16, std::span<const uint8_t>(bytes), [&] {
        slow = true;
        return uint64_t{7};
    });
    EXPECT_TRUE(slow);
    EXPECT_EQ(got, 7u);
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
        } else if (decoder.role == ChannelRole::DataBytes || decoder.role == ChannelRole::LinDataBytes) {
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
        const ChannelDecoderList general = random_group(random, kind, record_size);
        ChannelDecoderList planned = general;
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
                const bool ok = decoder(testing_support::raw_record(record, general, signal), expected);

                RawRecord raw = testing_support::raw_record(record, planned, signal);
                ASSERT_EQ(decoder(raw, by_list), ok) << "group " << group;
                raw.read_plan = &plan;
                ASSERT_EQ(decoder(raw, by_plan), ok) << "group " << group;
                if (!ok) continue;
                ++decoded;
                EXPECT_TRUE(same_records(by_list, expected)) << "list walk, group " << group;
                EXPECT_TRUE(same_records(by_plan, expected)) << "read plan, group " << group;
            }
        }
    }
    // Enough records decode for the comparison to mean something.
    EXPECT_GT(decoded, 2000) << decoded;
}

}  // namespace
}  // namespace tracemill
