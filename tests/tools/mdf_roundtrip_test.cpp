// Files from the synthetic writer and generator, opened with the converter's
// own reader: every frame written comes back decoded, in time order.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "mdf/mdf_file.h"
#include "mdf/metadata.h"
#include "mdf/record_iterator.h"
#include "mdf_generator.h"
#include "mdf_writer.h"
#include "streams/memory_stream.h"

namespace tracemill::tools {
namespace {

constexpr uint64_t kStartNs = 1'000'000'000;  // 1 s after 1970, so timestamps keep their precision

struct Opened {
    std::unique_ptr<MemoryStream> stream;
    MdfFilePtr file;
};

Opened open_bytes(const std::vector<uint8_t>& bytes) {
    Opened opened{memory_stream_from(bytes.data(), bytes.size()), nullptr};
    opened.file = open_mdf(opened.stream.get());
    return opened;
}

// Copies of every record the iterator hands out.
std::vector<BusRecord> read_all(MdfFile& file) {
    std::vector<BusRecord> records;
    RecordIteratorPtr it = begin_records(file);
    if (!it) return records;
    for (const BusRecord* r = current(*it); r; r = current(*it)) {
        records.push_back(*r);
        next_record(*it);
    }
    end_records(std::move(it));
    return records;
}

std::vector<BusRecord> round_trip(FileSpec spec) {
    Opened opened = open_bytes(write_mdf(spec).bytes);
    if (!opened.file) {
        ADD_FAILURE() << "file did not open";
        return {};
    }
    return read_all(*opened.file);
}

FileSpec file_with(std::vector<DataGroupSpec> groups) {
    FileSpec spec = logger_file("0000FEED", 3, 2, kStartNs);
    spec.data_groups = std::move(groups);
    return spec;
}

void expect_can_frame(const BusRecord& r, const CanFrame& f) {
    EXPECT_EQ(r.kind, BusRecordKind::CanDataFrame);
    EXPECT_NEAR(r.timestamp, 1.0 + f.time, 1e-9);
    EXPECT_EQ(r.bus_channel, f.bus);
    EXPECT_EQ(r.id, f.id);
    EXPECT_EQ(r.data, f.data);
    EXPECT_EQ(r.details.can.ide, f.ide);
    EXPECT_EQ(r.details.can.dir, f.dir);
    EXPECT_EQ(r.details.can.edl, f.edl);
    EXPECT_EQ(r.details.can.brs, f.brs);
    EXPECT_EQ(r.details.can.esi, f.esi);
    EXPECT_EQ(r.details.can.dlc, f.dlc >= 0 ? f.dlc : dlc_for_length(f.data.size()));
    EXPECT_EQ(r.details.can.rtr, 0);
}

std::vector<CanFrame> sample_can_frames(bool fd) {
    std::vector<CanFrame> frames = {
        can_frame(0.001, 0x123, {1, 2, 3, 4, 5, 6, 7, 8}),
        can_frame(0.002, 0x18FF0001, {0xAA}, 2),
        can_frame(0.003, 0x7FF, {}),
    };
    frames[1].dir = true;
    frames[2].esi = true;
    if (fd) {
        std::vector<uint8_t> payload(64);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(3 * i);
        frames.push_back(fd_frame(0.004, 0x321, payload));
        frames.push_back(fd_frame(0.005, 0x10, std::vector<uint8_t>(12, 0x5A), 3));
    }
    return frames;
}

TEST(MdfRoundTrip, CanDataFramesInEveryPayloadLayout) {
    struct Case {
        const char* label;
        uint8_t record_id_size;
        BusGroupOptions options;
        bool fd;
    };
    const Case cases[] = {
        {"sorted, classic bytes in the record", 0, BusGroupOptions(), false},
        {"sorted, 64 bytes in the record", 0, BusGroupOptions().with_payload(PayloadStorage::InRecord, 64), true},
        {"sorted, signal data block", 0, BusGroupOptions().with_payload(PayloadStorage::SignalData), true},
        {"unsorted, VLSD group", 1, BusGroupOptions().with_payload(PayloadStorage::VlsdGroup), true},
        {"unsorted 8-byte ids, VLSD group", 8, BusGroupOptions().with_payload(PayloadStorage::VlsdGroup), true},
        {"composed channel", 0, BusGroupOptions().with_composed(), false},
        {"composed with signal data", 2, BusGroupOptions().with_composed().with_payload(PayloadStorage::SignalData), true},
        {"timestamp ticks", 0, BusGroupOptions().with_timestamp_tick(1e-6), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        BusDataGroup group(c.record_id_size);
        const size_t can = group.add_group(BusGroupKind::CanDataFrame, c.options);
        const std::vector<CanFrame> frames = sample_can_frames(c.fd);
        for (const CanFrame& f : frames) group.add(can, f);
        const std::vector<BusRecord> records = round_trip(file_with({group.take()}));
        ASSERT_EQ(records.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(i);
            expect_can_frame(records[i], frames[i]);
        }
    }
}

TEST(MdfRoundTrip, MixedKindsInOneUnsortedGroupKeepTheirOrder) {
    BusDataGroup group(1);
    const size_t can = group.add_group(BusGroupKind::CanDataFrame);
    const size_t remote = group.add_group(BusGroupKind::CanRemoteFrame);
    const size_t error = group.add_group(BusGroupKind::CanErrorFrame);
    const size_t lin = group.add_group(BusGroupKind::LinFrame);
    group.add(can, can_frame(0.1, 0x100, {1, 2}));
    CanRemoteFrame rtr = remote_frame(0.2, 0x1ABCDE, 4, 2);
    rtr.dir = true;
    group.add(remote, rtr);
    group.add(error, error_frame(0.3, 5, 3));
    LinFrame lin_in = lin_frame(0.4, 0x3C, {9, 8, 7}, 1);
    lin_in.dir = true;
    lin_in.received_byte_count = 2;
    group.add(lin, lin_in);

    const std::vector<BusRecord> r = round_trip(file_with({group.take()}));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].kind, BusRecordKind::CanDataFrame);
    EXPECT_EQ(r[1].kind, BusRecordKind::CanRemoteFrame);
    EXPECT_EQ(r[1].id, 0x1ABCDEu);
    EXPECT_EQ(r[1].bus_channel, 2);
    EXPECT_EQ(r[1].data, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(r[1].details.can.rtr, 1);
    EXPECT_EQ(r[1].details.can.ide, 1);
    EXPECT_EQ(r[1].details.can.dir, 1);
    EXPECT_EQ(r[1].details.can.dlc, 4);
    EXPECT_EQ(r[2].kind, BusRecordKind::CanErrorFrame);
    EXPECT_EQ(r[2].details.error.bus_channel, 3);
    EXPECT_EQ(r[2].details.error.error_type, 5u);
    EXPECT_EQ(r[3].kind, BusRecordKind::LinFrame);
    EXPECT_EQ(r[3].id, 0x3Cu);
    EXPECT_EQ(r[3].data, (std::vector<uint8_t>{9, 8, 7}));
    EXPECT_EQ(r[3].details.lin.dir, 1);
    EXPECT_EQ(r[3].details.lin.received_byte_count, 2);
    for (size_t i = 0; i < r.size(); ++i) EXPECT_NEAR(r[i].timestamp, 1.1 + 0.1 * i, 1e-9);
}

// A VLSD group linked from a channel before the chain reaches it must not cut
// the channel group chain: the groups after it still count.
TEST(MdfRoundTrip, GroupsAfterAVlsdGroupAreStillRead) {
    BusDataGroup group(1);
    const size_t can = group.add_group(BusGroupKind::CanDataFrame, BusGroupOptions().with_payload(PayloadStorage::VlsdGroup));
    const size_t error = group.add_group(BusGroupKind::CanErrorFrame);
    group.add(can, can_frame(0.1, 0x100, {1, 2}));
    group.add(error, error_frame(0.2, 1));
    group.add(can, can_frame(0.3, 0x101, {3}));
    const std::vector<BusRecord> r = round_trip(file_with({group.take()}));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].kind, BusRecordKind::CanErrorFrame);
    EXPECT_EQ(r[2].data, std::vector<uint8_t>{3});

    GeneratorOptions options;  // VLSD groups amid the other bus groups
    options.frames = 3000;
    options.payload = PayloadStorage::VlsdGroup;
    options.start_time_ns = kStartNs;
    EXPECT_EQ(round_trip(generate_log(options)).size(), options.frames);
}

TEST(MdfRoundTrip, DataGroupsMergeByTime) {
    std::vector<DataGroupSpec> groups;
    for (int g = 0; g < 2; ++g) {
        BusDataGroup group;
        const size_t can = group.add_group(BusGroupKind::CanDataFrame);
        for (int i = 0; i < 3; ++i) group.add(can, can_frame(0.01 * (2 * i + g), uint32_t(10 * g + i), {}));
        groups.push_back(group.take());
    }
    const std::vector<BusRecord> r = round_trip(file_with(std::move(groups)));
    std::vector<uint32_t> ids;
    for (const auto& record : r) ids.push_back(record.id);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 10, 1, 11, 2, 12}));
}

TEST(MdfRoundTrip, HeaderMetadataNamesTheLogger) {
    Opened opened = open_bytes(write_mdf(file_with({})).bytes);
    ASSERT_TRUE(opened.file);
    MetadataMap map = read_header_metadata(*opened.file);
    std::string serial, session, split;
    map.for_each([&](const std::string&, const MetadataEntry& e) {
        if (e.name == "serial number") serial = e.value;
        if (e.name == "session") session = e.value;
        if (e.name == "split") split = e.value;
    });
    EXPECT_EQ(serial, "0000FEED");
    EXPECT_EQ(session, "3");
    EXPECT_EQ(split, "2");
}

TEST(MdfRoundTrip, UnfinalisedFileIsRepairedOnOpen) {
    std::vector<DataGroupSpec> groups;
    for (int g = 0; g < 2; ++g) {
        BusDataGroup group;
        const size_t can = group.add_group(BusGroupKind::CanDataFrame);
        for (int i = 0; i < 5; ++i) group.add(can, can_frame(0.1 * i + 0.01 * g, uint32_t(i), {uint8_t(g)}));
        groups.push_back(group.take());
    }
    FileSpec spec = file_with(std::move(groups));
    spec.finalised = false;
    EXPECT_EQ(round_trip(spec).size(), 10u);
}

TEST(MdfRoundTrip, GeneratedLogDecodesEveryEvent) {
    struct Case {
        const char* label;
        PayloadStorage payload;
        bool sorted;
        uint32_t data_groups;
        bool can_data_only;
    };
    const Case cases[] = {
        {"signal data, 3 groups", PayloadStorage::SignalData, false, 3, false},
        {"VLSD group", PayloadStorage::VlsdGroup, false, 1, true},
        {"in record, sorted", PayloadStorage::InRecord, true, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        GeneratorOptions options;
        options.frames = 3000;
        options.seed = 42;
        options.payload = c.payload;
        options.sorted = c.sorted;
        options.data_groups = c.data_groups;
        options.start_time_ns = kStartNs;
        if (c.can_data_only) {
            ASSERT_TRUE(parse_frame_mix("classic=70,fd=30", options.mix));
        }
        const std::vector<BusRecord> r = round_trip(generate_log(options));
        ASSERT_EQ(r.size(), options.frames);
        size_t fd = 0, remote = 0, lin = 0;
        for (size_t i = 1; i < r.size(); ++i) ASSERT_LE(r[i - 1].timestamp, r[i].timestamp) << i;
        for (const auto& record : r) {
            fd += record.kind == BusRecordKind::CanDataFrame && record.details.can.edl;
            remote += record.kind == BusRecordKind::CanRemoteFrame;
            lin += record.kind == BusRecordKind::LinFrame;
        }
        EXPECT_GT(fd, 300u);
        EXPECT_EQ(remote > 0, !c.can_data_only);
        EXPECT_EQ(lin > 0, !c.can_data_only);
    }
}

TEST(MdfGenerator, SameSeedSameBytesOtherSeedOtherBytes) {
    GeneratorOptions options;
    options.frames = 500;
    const auto first = write_mdf(generate_log(options)).bytes;
    EXPECT_EQ(write_mdf(generate_log(options)).bytes, first);
    options.seed = 2;
    EXPECT_NE(write_mdf(generate_log(options)).bytes, first);
}

TEST(MdfGenerator, ParseFrameMix) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t classic, fd, lin_errors;
    };
    const Case cases[] = {
        {"classic=1,fd=2,linerr=3", true, 1, 2, 3},
        {"fd=5", true, 0, 5, 0},
        {"", true, 0, 0, 0},
        {"fd", false, 0, 0, 0},
        {"fd=", false, 0, 0, 0},
        {"fd=-1", false, 0, 0, 0},
        {"fd=1x", false, 0, 0, 0},
        {"can=1", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FrameMix mix;
        ASSERT_EQ(parse_frame_mix(c.text, mix), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(mix.classic, FrameMix().classic) << "left unchanged: " << c.text;
            continue;
        }
        EXPECT_EQ(mix.classic, c.classic) << c.text;
        EXPECT_EQ(mix.fd, c.fd) << c.text;
        EXPECT_EQ(mix.lin_errors, c.lin_errors) << c.text;
        EXPECT_EQ(mix.remote, 0u) << c.text;
    }
}

}  // namespace
}  // namespace tracemill::tools
