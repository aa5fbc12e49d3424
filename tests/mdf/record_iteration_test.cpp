// Record iteration over whole files: sorted and unsorted data groups, signal
// data, the time-ordered merge and absolute timestamps, each read both from
// memory and through the data blocks' stream views.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "mdf/record_test_support.h"

namespace tracemill {
namespace {

using testing_support::can;
using testing_support::file_with;
using testing_support::Frame;
using testing_support::read_frames;
using testing_support::ReadPath;
using tools::BusDataGroup;
using tools::BusGroupKind;
using tools::BusGroupOptions;
using tools::PayloadStorage;
using tools::VlsdPlacement;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Writer options with only the fields a test is about changed.
template <class Set>
BusGroupOptions options(Set set) {
    BusGroupOptions o;
    set(o);
    return o;
}

BusGroupOptions stored_in(PayloadStorage payload, VlsdPlacement placement = VlsdPlacement::AfterReferrer) {
    return options([&](BusGroupOptions& o) {
        o.payload = payload;
        o.vlsd_placement = placement;
    });
}

class RecordIteration : public ::testing::TestWithParam<ReadPath> {};

INSTANTIATE_TEST_SUITE_P(Paths, RecordIteration, ::testing::Values(ReadPath::Memory, ReadPath::Stream),
                         [](const auto& info) { return testing_support::path_name(info.param); });

TEST_P(RecordIteration, SortedGroupInFileOrderWithAbsoluteTimes) {
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame);
    group.add(g, tools::can_frame(0.5, 0x100, {1, 2}));
    group.add(g, tools::can_frame(0.25, 0x101, {3}));  // file order wins within a group
    group.add(g, tools::can_frame(1.0, 0x18FF0001, {4, 5, 6, 7, 8, 9, 10, 11}, 2));
    tools::FileSpec file = file_with({group.take()}, 1'000'000'000);
    file.header.tz_offset_min = 60;

    const auto result = read_frames(file, GetParam());
    ASSERT_TRUE(result.opened) << result.log;
    EXPECT_EQ(result.time_offset, 3601.0);
    EXPECT_THAT(result.frames, ElementsAre(can(3601.5, 0x100, {1, 2}), can(3601.25, 0x101, {3}),
                                           can(3602.0, 0x18FF0001, {4, 5, 6, 7, 8, 9, 10, 11}, 2)));
    EXPECT_EQ(result.log, "");
}

TEST_P(RecordIteration, DataGroupsInterleaveByTime) {
    BusDataGroup first;
    const size_t a = first.add_group(BusGroupKind::CanDataFrame);
    first.add(a, tools::can_frame(1, 1, {}));
    first.add(a, tools::can_frame(3, 3, {}));
    BusDataGroup second;
    const size_t b = second.add_group(BusGroupKind::CanDataFrame);
    second.add(b, tools::can_frame(2, 2, {}));
    second.add(b, tools::can_frame(4, 4, {}));
    tools::FileSpec file = file_with({first.take(), second.take()}, 2'000'000'000);
    file.header.tz_offset_min = -30;
    file.header.dst_offset_min = 60;

    const auto result = read_frames(file, GetParam());
    EXPECT_EQ(result.time_offset, 2.0 + 1800);
    EXPECT_THAT(result.frames,
                ElementsAre(can(1803, 1, {}), can(1804, 2, {}), can(1805, 3, {}), can(1806, 4, {})));
}

// Up to 8 groups are scanned for the earliest record, more are kept in a
// heap; groups of different lengths end in every order, the last one too.
TEST_P(RecordIteration, ManyGroupsMergeIntoOneOrderedSequence) {
    for (uint32_t group_count : {2u, 7u, 8u, 9u, 20u}) {
        std::vector<tools::DataGroupSpec> groups;
        size_t total = 0;
        for (uint32_t d = 0; d < group_count; ++d) {
            BusDataGroup group;
            const size_t g = group.add_group(BusGroupKind::CanDataFrame);
            const uint32_t count = 5 + (d * 7) % 23;
            for (uint32_t i = 0; i < count; ++i) group.add(g, tools::can_frame(d * 0.013 + i * 0.1, d, {}));
            total += count;
            groups.push_back(group.take());
        }
        const auto result = read_frames(file_with(std::move(groups)), GetParam());
        ASSERT_EQ(result.frames.size(), total) << group_count << " groups";
        for (size_t i = 1; i < result.frames.size(); ++i)
            ASSERT_LE(result.frames[i - 1].time, result.frames[i].time) << group_count << " groups, at " << i;
    }
}

class RecordIdSizes : public ::testing::TestWithParam<std::tuple<ReadPath, uint8_t>> {};

INSTANTIATE_TEST_SUITE_P(Sizes, RecordIdSizes,
                         ::testing::Combine(::testing::Values(ReadPath::Memory, ReadPath::Stream),
                                            ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8)));

TEST_P(RecordIdSizes, UnsortedGroupsComeOutInFileOrder) {
    const auto [path, id_size] = GetParam();
    BusDataGroup group(id_size);
    BusGroupOptions high_id;
    if (id_size > 1) high_id.record_id = (uint64_t{1} << (8 * id_size - 1)) + 5;  // uses the id's top byte
    const size_t data = group.add_group(BusGroupKind::CanDataFrame, high_id);
    const size_t remote = group.add_group(BusGroupKind::CanRemoteFrame);
    group.add(data, tools::can_frame(1, 0x10, {0xAA}));
    group.add(remote, tools::remote_frame(2, 0x20, 3));
    group.add(data, tools::can_frame(3, 0x30, {0xBB, 0xCC}));

    const auto result = read_frames(file_with({group.take()}), path);
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x10, {0xAA}), Frame{2, BusRecordKind::CanRemoteFrame, 0x20, 1, {0, 0, 0}},
                                           can(3, 0x30, {0xBB, 0xCC})));
    EXPECT_EQ(result.log, "");
}

TEST_P(RecordIteration, SingleChannelGroupWithRecordIdsIsRead) {
    BusDataGroup group(2);
    const size_t g = group.add_group(BusGroupKind::CanDataFrame, options([](BusGroupOptions& o) { o.record_id = 7; }));
    group.add(g, tools::can_frame(1, 0x1, {9}));
    group.add(g, tools::can_frame(2, 0x2, {8}));
    const auto result = read_frames(file_with({group.take()}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {9}), can(2, 0x2, {8})));
}

// Moves the data group's VLSD channel group to the end of its chain.
void vlsd_group_last(tools::DataGroupSpec& data_group) {
    size_t vlsd = 0;
    while (vlsd < data_group.groups.size() && !data_group.groups[vlsd].is_vlsd()) ++vlsd;
    ASSERT_LT(vlsd, data_group.groups.size());
    const size_t last = data_group.groups.size() - 1;
    std::rotate(data_group.groups.begin() + vlsd, data_group.groups.begin() + vlsd + 1, data_group.groups.end());
    auto renumber = [&](auto& self, std::vector<tools::ChannelSpec>& channels) -> void {
        for (tools::ChannelSpec& channel : channels) {
            if (channel.vlsd_group) {
                const size_t old = *channel.vlsd_group;
                channel.vlsd_group = old == vlsd ? last : old - (old > vlsd);
            }
            self(self, channel.members);
        }
    };
    for (tools::ChannelGroupSpec& group : data_group.groups) renumber(renumber, group.channels);
}

std::vector<uint8_t> bytes_up_to(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i + 1);
    return v;
}

struct PayloadCase {
    const char* what;
    PayloadStorage storage;
    uint8_t record_id_size;
};

class SignalPayloads : public ::testing::TestWithParam<std::tuple<ReadPath, PayloadCase>> {};

INSTANTIATE_TEST_SUITE_P(
    Storage, SignalPayloads,
    ::testing::Combine(::testing::Values(ReadPath::Memory, ReadPath::Stream),
                       ::testing::Values(PayloadCase{"SD block, sorted", PayloadStorage::SignalData, 0},
                                         PayloadCase{"SD block, unsorted", PayloadStorage::SignalData, 1},
                                         PayloadCase{"VLSD group", PayloadStorage::VlsdGroup, 1},
                                         PayloadCase{"VLSD group, wide ids", PayloadStorage::VlsdGroup, 4})));

TEST_P(SignalPayloads, CarryFdPayloadsUpTo128Bytes) {
    const auto& [path, c] = GetParam();
    BusDataGroup group(c.record_id_size);
    const size_t g = group.add_group(BusGroupKind::CanDataFrame, options([&](BusGroupOptions& o) { o.payload = c.storage; }));
    group.add(g, tools::fd_frame(1, 0x1, bytes_up_to(64)));
    group.add(g, tools::fd_frame(2, 0x2, {}));
    group.add(g, tools::fd_frame(3, 0x3, bytes_up_to(12)));
    group.add(g, tools::fd_frame(4, 0x4, bytes_up_to(128)));  // the largest entry taken
    tools::CanFrame large = tools::fd_frame(5, 0x5, bytes_up_to(129));
    large.data_length = 64;
    group.add(g, large);
    group.add(g, tools::fd_frame(6, 0x6, {7}));

    const auto result = read_frames(file_with({group.take()}), path);
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, bytes_up_to(64)), can(2, 0x2, {}), can(3, 0x3, bytes_up_to(12)),
                                           can(4, 0x4, bytes_up_to(128)), can(5, 0x5, {}), can(6, 0x6, {7})))
        << c.what;
    EXPECT_THAT(result.log, HasSubstr("Unexpectedly large record: 129")) << c.what;
}

TEST_P(RecordIteration, VlsdRecordNotFollowingItsReferrer) {
    // The referrer of frame 1 is followed by a record of another group: it
    // comes out without payload and the other record is read next.
    BusDataGroup group(1);
    const size_t fd = group.add_group(BusGroupKind::CanDataFrame,
                                      stored_in(PayloadStorage::VlsdGroup, VlsdPlacement::Omitted));
    const size_t classic = group.add_group(BusGroupKind::CanDataFrame);
    group.add(fd, tools::fd_frame(1, 0x1, bytes_up_to(20)));
    group.add(classic, tools::can_frame(2, 0x2, {5}));
    tools::DataGroupSpec data_group = group.take();
    vlsd_group_last(data_group);
    const auto result = read_frames(file_with({std::move(data_group)}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {}), can(2, 0x2, {5})));
}

TEST_P(RecordIteration, StandaloneVlsdRecordIsSkipped) {
    BusDataGroup group(1);
    const size_t fd = group.add_group(
        BusGroupKind::CanDataFrame, stored_in(PayloadStorage::VlsdGroup, VlsdPlacement::BeforeReferrer));
    const size_t classic = group.add_group(BusGroupKind::CanDataFrame);
    group.add(classic, tools::can_frame(1, 0x1, {1}));
    group.add(fd, tools::fd_frame(2, 0x2, bytes_up_to(16)));  // its VLSD record comes first, on its own
    group.add(classic, tools::can_frame(3, 0x3, {3}));
    tools::DataGroupSpec data_group = group.take();
    vlsd_group_last(data_group);
    const auto result = read_frames(file_with({std::move(data_group)}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {1}), can(2, 0x2, {}), can(3, 0x3, {3})));
    EXPECT_EQ(result.log, "");
}

TEST_P(RecordIteration, PartialTrailingRecordIsNotDeliveredAndReported) {
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame);
    group.add(g, tools::can_frame(1, 0x1, {1}));
    group.add(g, tools::can_frame(2, 0x2, {2}));
    tools::DataGroupSpec data_group = group.take();
    data_group.records.resize(data_group.records.size() + 10, 0xEE);
    const auto result = read_frames(file_with({std::move(data_group)}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {1}), can(2, 0x2, {2})));
    EXPECT_THAT(result.log, HasSubstr("Records of data group 1"));
    EXPECT_THAT(result.log, HasSubstr("end after 2 records: the data ends inside a record"));
}

TEST_P(RecordIteration, UnregisteredRecordIdEndsTheGroupAfterDeliveredRecords) {
    BusDataGroup group(1);
    const size_t a = group.add_group(BusGroupKind::CanDataFrame);
    const size_t b = group.add_group(BusGroupKind::CanDataFrame);
    group.add(a, tools::can_frame(1, 0x1, {}));
    group.add(b, tools::can_frame(2, 0x2, {}));
    tools::DataGroupSpec data_group = group.take();
    data_group.records.push_back(9);  // a record id no channel group has
    data_group.records.resize(data_group.records.size() + 30, 0);
    BusDataGroup later;
    const size_t c = later.add_group(BusGroupKind::CanDataFrame);
    later.add(c, tools::can_frame(5, 0x5, {}));

    const auto result = read_frames(file_with({std::move(data_group), later.take()}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {}), can(2, 0x2, {}), can(5, 0x5, {})));
    EXPECT_THAT(result.log, HasSubstr("Records of data group 1"));
    EXPECT_THAT(result.log, HasSubstr("end after 2 records: unregistered record id 9"));
}

TEST(RecordIteration, RepeatedRecordIdLeavesLaterGroupsUnregistered) {
    BusDataGroup group(1);
    const size_t a = group.add_group(BusGroupKind::CanDataFrame);  // record id 1
    const size_t b = group.add_group(BusGroupKind::CanErrorFrame);  // 2
    const size_t c = group.add_group(BusGroupKind::CanDataFrame);  // 3
    group.add(a, tools::can_frame(1, 0x1, {}));
    group.add(b, tools::error_frame(2, 1));
    group.add(c, tools::can_frame(3, 0x3, {}));
    tools::DataGroupSpec data_group = group.take();
    // The second group repeats the first id: it and every later group stay
    // unregistered, so the records written under ids 2 and 3 end the reading.
    data_group.groups[1].record_id = 1;
    data_group.groups[2].record_id = 3;
    const auto result = read_frames(file_with({std::move(data_group)}));
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {})));
    EXPECT_THAT(result.log, HasSubstr("end after 1 records: unregistered record id 2"));
}

TEST(RecordIteration, GroupWithoutDataBlockYieldsNothingSilently) {
    BusDataGroup empty;
    empty.add_group(BusGroupKind::CanDataFrame);
    tools::DataGroupSpec no_data = empty.take();
    no_data.has_data_block = false;
    BusDataGroup full;
    const size_t g = full.add_group(BusGroupKind::CanDataFrame);
    full.add(g, tools::can_frame(1, 0x1, {}));
    const auto result = read_frames(file_with({std::move(no_data), full.take()}));
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {})));
    EXPECT_EQ(result.log, "");
}

// Groups that cannot have records at all: nothing comes out, and one warning says why.
struct UnreadableCase {
    const char* what;
    void (*spoil)(tools::DataGroupSpec&);
    const char* reason;
};

class UnreadableGroups : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableGroups, YieldNothingWithOneWarning) {
    const UnreadableCase& c = GetParam();
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame);
    group.add(g, tools::can_frame(1, 0x1, {1}));
    tools::DataGroupSpec data_group = group.take();
    c.spoil(data_group);
    BusDataGroup other;
    const size_t o = other.add_group(BusGroupKind::CanDataFrame);
    other.add(o, tools::can_frame(2, 0x2, {}));

    const auto result = read_frames(file_with({std::move(data_group), other.take()}));
    EXPECT_THAT(result.frames, ElementsAre(can(2, 0x2, {}))) << c.what;
    EXPECT_THAT(result.log, HasSubstr(std::string("Records of data group 1 (at offset "))) << c.what;
    EXPECT_THAT(result.log, HasSubstr(c.reason)) << c.what;
    EXPECT_EQ(result.log.find("Records of data group", result.log.find("Records of data group") + 1),
              std::string::npos)
        << c.what << ": warned more than once";
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, UnreadableGroups,
    ::testing::Values(
        UnreadableCase{"record ids of 9 bytes", [](tools::DataGroupSpec& s) { s.record_id_size = 9; },
                       "record ids wider than 8 bytes"},
        UnreadableCase{"records of size 0",
                       [](tools::DataGroupSpec& s) {
                           s.groups[0].data_bytes = 0;
                           s.groups[0].inval_bytes = 0;
                       },
                       "records have a size of 0"},
        UnreadableCase{"only a VLSD group", [](tools::DataGroupSpec& s) { s.groups[0].flags = tools::kChannelGroupVlsdFlag; },
                       "only channel group holds variable-length data"},
        UnreadableCase{"a channel without role",
                       [](tools::DataGroupSpec& s) {
                           tools::ChannelSpec extra;
                           extra.name = "CAN_DataFrame.Checksum";
                           extra.byte_offset = 8;
                           extra.bit_count = 8;
                           s.groups[0].channels.push_back(extra);
                       },
                       "end after 0 records: a record could not be decoded"}));

TEST(RecordIteration, GroupsWithoutBusDataStaySilent) {
    tools::DataGroupSpec gps;
    tools::ChannelGroupSpec cg;
    cg.data_bytes = 16;
    tools::ChannelSpec time;
    time.name = "Timestamp";
    time.data_type = tools::kFloatLe;
    time.bit_count = 64;
    tools::ChannelSpec latitude;
    latitude.name = "GPS.Latitude";
    latitude.data_type = tools::kFloatLe;
    latitude.byte_offset = 8;
    latitude.bit_count = 64;
    cg.channels = {time, latitude};
    gps.groups.push_back(cg);
    gps.records.resize(32, 0);
    BusDataGroup bus;
    const size_t g = bus.add_group(BusGroupKind::CanDataFrame);
    bus.add(g, tools::can_frame(1, 0x1, {}));

    const auto result = read_frames(file_with({std::move(gps), bus.take()}));
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {})));
    EXPECT_EQ(result.log, "");
}

TEST(RecordIteration, DecodingFailureAfterRecordsIsReported) {
    BusDataGroup group(1);
    const size_t can_group = group.add_group(BusGroupKind::CanDataFrame);
    const size_t other = group.add_group(BusGroupKind::CanDataFrame, options([](BusGroupOptions& o) { o.prefix = "Analog"; }));
    group.add(can_group, tools::can_frame(1, 0x1, {}));
    group.add(other, tools::can_frame(2, 0x2, {}));
    group.add(can_group, tools::can_frame(3, 0x3, {}));
    const auto result = read_frames(file_with({group.take()}));
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1, {})));
    EXPECT_THAT(result.log, HasSubstr("end after 1 records: a record could not be decoded"));
}

TEST(RecordIteration, MissingTimestampDoesNotAccumulateTheOffset) {
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame);
    for (int i = 0; i < 3; ++i) group.add(g, tools::can_frame(i + 1, 0x10 + i, {}));
    tools::DataGroupSpec data_group = group.take();
    data_group.groups[0].channels.erase(data_group.groups[0].channels.begin());  // drop Timestamp
    const auto result = read_frames(file_with({std::move(data_group)}, 5'000'000'000));
    ASSERT_EQ(result.frames.size(), 3u);
    for (const Frame& frame : result.frames) EXPECT_EQ(frame.time, 5.0);
}

TEST_P(RecordIteration, EveryBusKindDecodesFromOneUnsortedGroup) {
    BusDataGroup group(1);
    const size_t data = group.add_group(BusGroupKind::CanDataFrame);
    const size_t remote = group.add_group(BusGroupKind::CanRemoteFrame);
    const size_t error = group.add_group(BusGroupKind::CanErrorFrame);
    const size_t lin = group.add_group(BusGroupKind::LinFrame);
    const size_t checksum = group.add_group(BusGroupKind::LinChecksumError);
    const size_t receive = group.add_group(BusGroupKind::LinReceiveError);
    const size_t transmission = group.add_group(BusGroupKind::LinTransmissionError);
    const size_t sync = group.add_group(BusGroupKind::LinSyncError);
    tools::CanFrame cut = tools::can_frame(1, 0x100, {1, 2, 3, 4, 5, 6, 7, 8});
    cut.data_length = 3;
    group.add(data, cut);
    group.add(remote, tools::remote_frame(2, 0x200, 4));
    group.add(error, tools::error_frame(3, 7, 2));
    group.add(error, tools::error_frame(4, 3, 2));
    group.add(lin, tools::lin_frame(5, 0x21, {9, 8, 7}, 3));
    group.add(checksum, tools::lin_frame(6, 0x22, {6}, 3));
    group.add(receive, tools::lin_error(7, 0x23, 3));
    group.add(transmission, tools::lin_error(8, 0x24, 3));
    group.add(sync, tools::lin_error(9, 0, 3));

    const auto result = read_frames(file_with({group.take()}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x100, {1, 2, 3}),
                                           Frame{2, BusRecordKind::CanRemoteFrame, 0x200, 1, {0, 0, 0, 0}},
                                           Frame{3, BusRecordKind::CanErrorFrame, 0, 0, {}},
                                           Frame{4, BusRecordKind::CanErrorFrame, 0, 0, {}},
                                           Frame{5, BusRecordKind::LinFrame, 0x21, 3, {9, 8, 7}},
                                           Frame{6, BusRecordKind::LinChecksumError, 0x22, 3, {6}},
                                           Frame{7, BusRecordKind::LinReceiveError, 0x23, 3, {}},
                                           Frame{8, BusRecordKind::LinTransmissionError, 0x24, 3, {}},
                                           Frame{9, BusRecordKind::LinSyncError, 0, 3, {}}));
    EXPECT_EQ(result.log, "");
}

TEST(RecordIteration, ErrorFrameDetailsAreBounded) {
    BusDataGroup group;
    const size_t error = group.add_group(BusGroupKind::CanErrorFrame);
    for (uint8_t type : {0, 1, 3, 5, 6, 7, 200}) group.add(error, tools::error_frame(type, type, 4));
    const tools::MdfImage image = tools::write_mdf(file_with({group.take()}));
    auto opened = testing_support::open_bytes(image.bytes, ReadPath::Memory);
    ASSERT_TRUE(opened.file);
    RecordIteratorPtr iterator = begin_records(*opened.file);
    std::vector<uint32_t> types;
    for (const BusRecord* record = current(*iterator); record; record = current(*iterator)) {
        EXPECT_EQ(record->details.error.bus_channel, 4);
        types.push_back(record->details.error.error_type);
        next_record(*iterator);
    }
    EXPECT_THAT(types, ElementsAre(0, 1, 3, 5, 0, 0, 0));
}

TEST_P(RecordIteration, ComposedChannelsDecodeLikePlainOnes) {
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame, options([](BusGroupOptions& o) {
        o.payload = PayloadStorage::SignalData;
        o.composed = true;
    }));
    tools::CanFrame frame = tools::fd_frame(1, 0x1ABCDEF, bytes_up_to(24));
    frame.dir = true;
    group.add(g, frame);
    group.add(g, tools::can_frame(2, 0x7FF, {1, 2}));
    const auto result = read_frames(file_with({group.take()}), GetParam());
    EXPECT_THAT(result.frames, ElementsAre(can(1, 0x1ABCDEF, bytes_up_to(24)), can(2, 0x7FF, {1, 2})));
}

TEST(RecordIteration, ConversionsApplyToChannelValues) {
    BusDataGroup group;
    const size_t g = group.add_group(BusGroupKind::CanDataFrame, options([](BusGroupOptions& o) { o.timestamp_tick = 1e-3; }));
    group.add(g, tools::can_frame(1.5, 0x10, {}, 1));
    group.add(g, tools::can_frame(2.25, 0x11, {}, 2));
    // Bus channels 1 and 2 are logged as 7 and 9; others have no physical value.
    group.find_channel(g, "CAN_DataFrame.BusChannel")->conversion = tools::ConversionSpec::value_table({{1, 7}, {2, 9}});
    const auto result = read_frames(file_with({group.take()}));
    EXPECT_THAT(result.frames, ElementsAre(can(1.5, 0x10, {}, 7), can(2.25, 0x11, {}, 9)));
}

// After the last record the iterator says which data groups did not reach
// their clean end. Two groups of three CAN frames each; the second group's
// data block is the last thing in the file.
struct GroupEndCase {
    const char* what;
    void (*spoil)(tools::DataGroupSpec& first, tools::DataGroupSpec& second);
    ReadPath path;
    bool fail_reads_in_first_group;
    int64_t failed_result;  // of those reads
    std::vector<std::tuple<uint32_t, uint64_t, uint64_t, RecordEnd, bool>> early;  // group, read, expected, end, bus data
    bool read_failed;
};

class GroupEnds : public ::testing::TestWithParam<GroupEndCase> {};

TEST_P(GroupEnds, AreReportedAfterTheLastRecord) {
    const GroupEndCase& c = GetParam();
    BusDataGroup first(1), second(1);
    const size_t a = first.add_group(BusGroupKind::CanDataFrame);
    const size_t b = second.add_group(BusGroupKind::CanDataFrame);
    for (int i = 0; i < 3; ++i) {
        first.add(a, tools::can_frame(i, 0x10 + i, {1, 2}));
        second.add(b, tools::can_frame(i, 0x20 + i, {3}));
    }
    tools::DataGroupSpec one = first.take(), two = second.take();
    if (c.spoil) c.spoil(one, two);
    const tools::FileSpec file = file_with({std::move(one), std::move(two)});
    // A read failure inside the second record of the first group.
    const int64_t fail_from = c.fail_reads_in_first_group
                                  ? static_cast<int64_t>(tools::write_mdf(file).offset_of("dg0.dt") + 24 + 30)
                                  : INT64_MAX;
    const auto result = read_frames(file, c.path, fail_from, c.failed_result);
    std::vector<std::tuple<uint32_t, uint64_t, uint64_t, RecordEnd, bool>> early;
    for (const GroupEnd& end : result.early_ends)
        early.emplace_back(end.group_number, end.records_read, end.records_expected, end.end, end.holds_bus_data);
    EXPECT_EQ(early, c.early) << c.what;
    EXPECT_EQ(result.read_failed, c.read_failed) << c.what;
}

void unknown_id_in_first(tools::DataGroupSpec& first, tools::DataGroupSpec&) {
    first.records.insert(first.records.begin() + static_cast<ptrdiff_t>(first.records.size() / 3), 9);
}
void cut_first(tools::DataGroupSpec& first, tools::DataGroupSpec&) { first.records.resize(first.records.size() - 3); }
void cut_second(tools::DataGroupSpec&, tools::DataGroupSpec& second) { second.records.resize(second.records.size() - 3); }
void no_bus_channels_in_first(tools::DataGroupSpec& first, tools::DataGroupSpec&) {
    for (tools::ChannelSpec& channel : first.groups[0].channels)
        if (channel.name != "Timestamp") channel.name = "GPS" + channel.name.substr(channel.name.find('.'));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupEnds,
    ::testing::Values(
        GroupEndCase{"all read", nullptr, ReadPath::Memory, false, 0, {}, false},
        GroupEndCase{"unregistered id mid-data", unknown_id_in_first, ReadPath::Memory, false, 0,
                     {{1, 1, 3, RecordEnd::UnknownRecordId, true}}, false},
        GroupEndCase{"record cut before the next data block", cut_first, ReadPath::Stream, false, 0,
                     {{1, 2, 3, RecordEnd::CutShort, true}}, false},
        GroupEndCase{"record cut at the end of the file is clean", cut_second, ReadPath::Stream, false, 0, {}, false},
        GroupEndCase{"group without bus data", no_bus_channels_in_first, ReadPath::Memory, false, 0,
                     {{1, 0, 3, RecordEnd::NotDecoded, false}}, false},
        GroupEndCase{"read failure", nullptr, ReadPath::Stream, true, -1, {{1, 1, 3, RecordEnd::ReadFailed, true}}, true},
        GroupEndCase{"data ending before the file does", nullptr, ReadPath::Stream, true, 0,
                     {{1, 1, 3, RecordEnd::ReadFailed, true}}, true}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

}  // namespace
}  // namespace tracemill
