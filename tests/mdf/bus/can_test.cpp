// The CAN frame decoders: how the channels of one record become a BusRecord.
#include "mdf/bus/can.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "mdf/frame_test_support.h"

namespace tracemill {
namespace {

using testing_support::make_decoders;
using testing_support::RecordBytes;
using testing_support::signal_entry;
using testing_support::TestChannel;
using testing_support::TestRecord;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// CAN data frame record: Timestamp f64 @0, BusChannel @8, ID u32 @9,
// IDE/Dir/EDL/ESI/BRS bits 0..4 of byte 13, DLC @14, DataLength @15, 8 data bytes @16.
std::vector<TestChannel> can_data_channels(bool with_length = true) {
    std::vector<TestChannel> channels = {
        {"Timestamp", 0, 64, ValueKind::Float},
        {"CAN_DataFrame.BusChannel", 8, 8},
        {"CAN_DataFrame.ID", 9, 32},
        {"CAN_DataFrame.IDE", 13, 1, ValueKind::Unsigned, true, 0},
        {"CAN_DataFrame.Dir", 13, 1, ValueKind::Unsigned, true, 1},
        {"CAN_DataFrame.EDL", 13, 1, ValueKind::Unsigned, true, 2},
        {"CAN_DataFrame.ESI", 13, 1, ValueKind::Unsigned, true, 3},
        {"CAN_DataFrame.BRS", 13, 1, ValueKind::Unsigned, true, 4},
        {"CAN_DataFrame.DLC", 14, 8},
        {"CAN_DataFrame.DataBytes", 16, 64, ValueKind::Bytes},
    };
    if (with_length) channels.push_back({"CAN_DataFrame.DataLength", 15, 8});
    return channels;
}

RecordBytes can_data_record(uint8_t data_length) {
    RecordBytes record(24);
    record.put_double(0, 1.25).put(8, 3, 1).put(9, 0x18DAF110, 4).put(13, 0b10101, 1).put(14, 8, 1);
    record.put(15, data_length, 1).put_bytes(16, {1, 2, 3, 4, 5, 6, 7, 8});
    return record;
}

TEST(CanDataFrame, DecodesEveryField) {
    const auto decoders = make_decoders(can_data_channels());
    const RecordBytes record = can_data_record(8);
    BusRecord out;
    ASSERT_TRUE(decode_can_data_frame(TestRecord(record.bytes(), decoders), out));
    EXPECT_EQ(out.kind, BusRecordKind::CanDataFrame);
    EXPECT_EQ(out.timestamp, 1.25);
    EXPECT_EQ(out.bus_channel, 3);
    EXPECT_EQ(out.id, 0x18DAF110u);
    EXPECT_EQ(out.details.can.ide, 1);
    EXPECT_EQ(out.details.can.dir, 0);
    EXPECT_EQ(out.details.can.edl, 1);
    EXPECT_EQ(out.details.can.esi, 0);
    EXPECT_EQ(out.details.can.brs, 1);
    EXPECT_EQ(out.details.can.rtr, 0);
    EXPECT_EQ(out.details.can.dlc, 8);
    EXPECT_THAT(out.data, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
}

// Records laid out as loggers write them take the integer-word path; it must
// give what the general planned path gives, at the edges of every store too,
// with every field or one missing, and with timestamps read as floats, as
// ticks through a linear conversion, or as plain integers.
TEST(CanDataFrame, IntegerWordPathAgreesWithThePlannedPath) {
    const struct {
        uint64_t bus_channel, id;
        uint8_t flags, dlc, data_length;
    } cases[] = {{1, 0x123, 0, 8, 8}, {0x80000001, 0xFFFFFFFF, 0b11111, 15, 3}, {0x7FFFFFFF, 0, 0b01010, 255, 64}};
    enum class Time { Float, LinearTicks, Ticks };
    for (bool big_endian_id : {false, true})
    for (Time time : {Time::Float, Time::LinearTicks, Time::Ticks})
    for (bool without_esi : {false, true}) {
        auto channels = can_data_channels();
        if (time != Time::Float) channels[0].kind = ValueKind::Unsigned;
        channels[1].bit_count = 32;  // BusChannel over bytes 8..11: values past a byte's range
        channels[2].byte_offset = 12;
        channels[2].little_endian = !big_endian_id;
        for (int flag = 3; flag <= 7; ++flag) channels[flag].byte_offset = 16;
        channels[8].byte_offset = 17;        // DLC
        channels[9].byte_offset = 24;        // DataBytes
        channels[10].byte_offset = 18;       // DataLength
        if (without_esi) channels.erase(channels.begin() + 6);
        auto decoders = make_decoders(channels);
        if (time == Time::LinearTicks) decoders[0].conversion = Conversion(std::make_unique<LinearConversion>(1e-5, 3.5));
        for (const auto& c : cases) {
            RecordBytes record(32);
            if (time == Time::Float) record.put_double(0, 7.5);
            else record.put(0, 123456789012345, 8);
            record.put(8, c.bus_channel, 4).put(12, c.id, 4).put(16, c.flags, 1);
            record.put(17, c.dlc, 1).put(18, c.data_length, 1).put_bytes(24, {1, 2, 3, 4, 5, 6, 7, 8});
            TestRecord words(record.bytes(), decoders), planned(record.bytes(), decoders);
            EXPECT_EQ(words.plan.integer_words, !big_endian_id);
            EXPECT_EQ(words.plan.linear_time, time != Time::Float);
            planned.plan.integer_words = false;
            BusRecord a, b;
            ASSERT_TRUE(decode_can_data_frame(words, a));
            ASSERT_TRUE(decode_can_data_frame(planned, b));
            EXPECT_EQ(std::tie(a.timestamp, a.bus_channel, a.id, a.data),
                      std::tie(b.timestamp, b.bus_channel, b.id, b.data));
            EXPECT_EQ(std::memcmp(&a.details, &b.details, sizeof a.details), 0) << c.id;
        }
    }
}

struct LengthCase {
    const char* what;
    bool with_length;
    uint8_t data_length;
    size_t expected_size;
};

class CanDataLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(CanDataLength, CutsThePayload) {
    const LengthCase& c = GetParam();
    const auto decoders = make_decoders(can_data_channels(c.with_length));
    const RecordBytes record = can_data_record(c.data_length);
    BusRecord out;
    ASSERT_TRUE(decode_can_data_frame(TestRecord(record.bytes(), decoders), out)) << c.what;
    EXPECT_EQ(out.data.size(), c.expected_size) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Lengths, CanDataLength,
                         ::testing::Values(LengthCase{"shorter length cuts", true, 3, 3},
                                           LengthCase{"zero length empties", true, 0, 0},
                                           LengthCase{"longer length keeps what is there", true, 12, 8},
                                           LengthCase{"no length channel keeps everything", false, 0, 8}));

TEST(CanDataFrame, ChannelWithoutRoleFailsAndLeavesKind) {
    auto channels = can_data_channels();
    channels.push_back({"CAN_DataFrame.Unknown", 15, 8});
    const auto decoders = make_decoders(channels);
    const RecordBytes record = can_data_record(8);
    BusRecord out;
    out.kind = BusRecordKind::LinFrame;
    EXPECT_FALSE(decode_can_data_frame(TestRecord(record.bytes(), decoders), out));
    EXPECT_EQ(out.kind, BusRecordKind::LinFrame);
}

TEST(CanDataFrame, NumericDataBytesChannelFails) {
    const auto decoders = make_decoders({{"Timestamp", 0, 64, ValueKind::Float}, {"CAN_DataFrame.DataBytes", 16, 64}});
    const RecordBytes record = can_data_record(8);
    BusRecord out;
    EXPECT_FALSE(decode_can_data_frame(TestRecord(record.bytes(), decoders), out));
}

TEST(CanDataFrame, UnalignedByteArrayIsReportedAndSkipped) {
    const auto decoders = make_decoders({{"Timestamp", 0, 64, ValueKind::Float},
                                         {"CAN_DataFrame.DataBytes", 1, 64, ValueKind::Bytes, true, 4}});
    const RecordBytes record = can_data_record(8);
    BusRecord out;
    ::testing::internal::CaptureStderr();
    const bool decoded = decode_can_data_frame(TestRecord(record.bytes(), decoders), out);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Could not read data"));
    EXPECT_TRUE(decoded);
    EXPECT_TRUE(out.data.empty());
}

TEST(CanDataFrame, ByteArrayRunningPastTheRecordIsCut) {
    const auto decoders = make_decoders({{"CAN_DataFrame.DataBytes", 20, 64, ValueKind::Bytes}});
    const RecordBytes record = can_data_record(8);
    BusRecord out;
    ASSERT_TRUE(decode_can_data_frame(TestRecord(record.bytes(), decoders), out));
    EXPECT_THAT(out.data, ElementsAre(5, 6, 7, 8));
}

struct SignalCase {
    const char* what;
    std::vector<uint8_t> signal;
    std::vector<uint8_t> expected;
};

class CanSignalPayload : public ::testing::TestWithParam<SignalCase> {};

TEST_P(CanSignalPayload, TakesTheEntryBytes) {
    const SignalCase& c = GetParam();
    auto decoders = make_decoders({{"CAN_DataFrame.DataBytes", 0, 32, ValueKind::Bytes}});
    decoders[0].data_link = testing_support::some_signal_block();
    const std::vector<uint8_t> record(4, 0);
    BusRecord out;
    ASSERT_TRUE(decode_can_data_frame(TestRecord(record, decoders, c.signal), out)) << c.what;
    EXPECT_THAT(out.data, ElementsAreArray(c.expected)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CanSignalPayload,
    ::testing::Values(SignalCase{"whole entry", signal_entry(3, {9, 8, 7}), {9, 8, 7}},
                      SignalCase{"length shorter than the bytes", signal_entry(2, {9, 8, 7}), {9, 8}},
                      SignalCase{"length longer than the bytes", signal_entry(10, {9, 8, 7}), {9, 8, 7}},
                      SignalCase{"no signal data", {}, {}},
                      SignalCase{"length field only", signal_entry(5, {}), {}}));

// Remote frame: Timestamp f64 @0, ID u32 @8, DataLength u8 @12, DLC u8 @13.
struct RemoteCase {
    const char* what;
    double length_offset;  // linear offset applied to the stored length 4
    size_t expected_size;
};

class CanRemoteLength : public ::testing::TestWithParam<RemoteCase> {};

TEST_P(CanRemoteLength, GivesZeroBytes) {
    const RemoteCase& c = GetParam();
    auto decoders = make_decoders({{"Timestamp", 0, 64, ValueKind::Float},
                                   {"CAN_RemoteFrame.ID", 8, 32},
                                   {"CAN_RemoteFrame.DataLength", 12, 8},
                                   {"CAN_RemoteFrame.DLC", 13, 8}});
    const double values[] = {c.length_offset, 1};
    decoders[2].conversion = make_conversion(1, values, 2);
    RecordBytes record(14);
    record.put_double(0, 2.5).put(8, 0x123, 4).put(12, 4, 1).put(13, 4, 1);
    BusRecord out;
    out.data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_TRUE(decode_can_remote_frame(TestRecord(record.bytes(), decoders), out)) << c.what;
    EXPECT_EQ(out.kind, BusRecordKind::CanRemoteFrame);
    EXPECT_EQ(out.details.can.rtr, 1);
    EXPECT_EQ(out.id, 0x123u);
    EXPECT_EQ(out.data, std::vector<uint8_t>(c.expected_size, 0)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Lengths, CanRemoteLength,
                         ::testing::Values(RemoteCase{"as stored", 0, 4},
                                           RemoteCase{"negative is empty", -10, 0},
                                           RemoteCase{"huge is bounded", 1e12, kMaxRemoteDataLength}));

// How physical values are stored: flags, byte fields and identifiers.
struct StoreCase {
    const char* what;
    std::vector<double> table;  // value-table conversion applied to the stored raw value 1
    uint8_t ide;
    uint8_t bus_channel;
    uint32_t id;
};

class ValueStores : public ::testing::TestWithParam<StoreCase> {};

TEST_P(ValueStores, TruncateAndBound) {
    const StoreCase& c = GetParam();
    auto decoders = make_decoders(
        {{"CAN_DataFrame.IDE", 0, 8}, {"CAN_DataFrame.BusChannel", 0, 8}, {"CAN_DataFrame.ID", 0, 8}});
    for (auto& decoder : decoders) decoder.conversion = make_conversion(5, c.table.data(), c.table.size());
    const std::vector<uint8_t> record = {1};
    BusRecord out;
    ASSERT_TRUE(decode_can_data_frame(TestRecord(record, decoders), out)) << c.what;
    EXPECT_EQ(out.details.can.ide, c.ide) << c.what;
    EXPECT_EQ(out.bus_channel, c.bus_channel) << c.what;
    EXPECT_EQ(out.id, c.id) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueStores,
    ::testing::Values(StoreCase{"fraction truncates", {1, 2.9}, 1, 2, 2},
                      StoreCase{"below one is zero", {1, 0.7}, 0, 0, 0},
                      StoreCase{"low byte of the value", {1, 300}, 1, 44, 300},
                      StoreCase{"negative identifier keeps its low 32 bits", {1, -1}, 1, 255, 0xFFFFFFFF},
                      StoreCase{"beyond 32 bits gives byte 0", {1, 5e9}, 1, 0, 705032704},
                      StoreCase{"beyond 64 bits gives id 0", {1, 1e30}, 1, 0, 0},
                      StoreCase{"NaN sets flags only", {2, 2}, 1, 0, 0}));

}  // namespace
}  // namespace tracemill
