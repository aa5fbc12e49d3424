// Checks the bytes of the synthetic MDF4 writer against the on-disk block
// layouts: headers, link counts and targets, data sections, records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "mdf_layout.h"
#include "mdf_writer.h"

namespace tracemill::tools {
namespace {

// One block as found in the bytes.
struct Block {
    std::string id;
    uint64_t length = 0;
    uint64_t link_count = 0;
    std::vector<uint64_t> links;
    std::span<const uint8_t> data;
};

Block block_at(const std::vector<uint8_t>& bytes, uint64_t offset) {
    Block b;
    if (offset + 24 > bytes.size()) return b;
    b.id.assign(reinterpret_cast<const char*>(&bytes[offset]), 4);
    b.length = get_le(bytes, offset + 8, 8);
    b.link_count = get_le(bytes, offset + 16, 8);
    for (uint64_t i = 0; i < b.link_count; ++i) b.links.push_back(get_le(bytes, offset + 24 + 8 * i, 8));
    const uint64_t data_start = offset + 24 + 8 * b.link_count;
    if (b.length >= 24 + 8 * b.link_count && offset + b.length <= bytes.size()) {
        b.data = std::span<const uint8_t>(bytes).subspan(data_start, b.length - 24 - 8 * b.link_count);
    }
    return b;
}

// Text of a TX/MD block up to its first zero byte.
std::string text_at(const std::vector<uint8_t>& bytes, uint64_t offset) {
    const Block b = block_at(bytes, offset);
    std::string text(b.data.begin(), b.data.end());
    return text.substr(0, text.find('\0'));
}

uint64_t bits_of(std::span<const uint8_t> record, uint64_t bit_position, uint32_t bit_count) {
    uint64_t value = 0;
    for (uint32_t k = 0; k < bit_count; ++k) {
        const uint64_t bit = bit_position + k;
        if ((record[bit / 8] >> (bit % 8)) & 1) value |= uint64_t{1} << k;
    }
    return value;
}

// Reads a channel's value from a record, with the position the CN block states.
uint64_t channel_value(const MdfImage& image, const std::string& cn_name, std::span<const uint8_t> record) {
    const Block cn = block_at(image.bytes, image.offset_of(cn_name));
    const uint64_t bit_position = get_le(cn.data, 4, 4) * 8 + cn.data[3];
    return bits_of(record, bit_position, static_cast<uint32_t>(get_le(cn.data, 8, 4)));
}

// Finds the CN block of a channel by its name text within a channel group.
std::string channel_named(const MdfImage& image, const std::string& group, const std::string& name) {
    for (int i = 0; i < 64; ++i) {
        const std::string cn = group + ".cn" + std::to_string(i);
        if (!image.offset_of(cn)) break;
        if (text_at(image.bytes, image.offset_of(cn + ".name")) == name) return cn;
    }
    return {};
}

FileSpec can_file(BusDataGroup group) {
    FileSpec spec = logger_file("1234ABCD", 7, 3, 1'600'000'000'000'000'000ULL);
    spec.data_groups.push_back(group.take());
    return spec;
}

TEST(MdfWriterFile, IdentificationBlockFields) {
    FileSpec spec = logger_file();
    spec.version_text = "4.11";
    spec.version = 411;
    const auto bytes = write_mdf(spec).bytes;
    ASSERT_GE(bytes.size(), 64u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "MDF     ");
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "4.11    ");
    EXPECT_EQ(get_le(bytes, 28, 2), 411u);
    EXPECT_EQ(get_le(bytes, 60, 2), 0u);
}

TEST(MdfWriterFile, HeaderTimeAndLoggerComment) {
    FileSpec spec = logger_file("00C0FFEE", 12, 4, 1'000'000'000);
    spec.header.tz_offset_min = 60;
    spec.header.dst_offset_min = -30;
    const MdfImage image = write_mdf(spec);
    ASSERT_EQ(image.offset_of("hd"), 64u);
    const Block hd = block_at(image.bytes, 64);
    EXPECT_EQ(hd.id, "##HD");
    EXPECT_EQ(hd.link_count, 6u);
    EXPECT_EQ(hd.length, 24u + 48u + 32u);
    EXPECT_EQ(get_le(hd.data, 0, 8), 1'000'000'000u);
    EXPECT_EQ(static_cast<int16_t>(get_le(hd.data, 8, 2)), 60);
    EXPECT_EQ(static_cast<int16_t>(get_le(hd.data, 10, 2)), -30);
    EXPECT_EQ(hd.links[2], 0u);
    EXPECT_EQ(hd.links[3], 0u);
    EXPECT_EQ(hd.links[4], 0u);
    ASSERT_EQ(hd.links[5], image.offset_of("hd.comment"));
    EXPECT_EQ(block_at(image.bytes, hd.links[5]).id, "##MD");
    const std::string xml = text_at(image.bytes, hd.links[5]);
    EXPECT_NE(xml.find("<common_properties>"), std::string::npos);
    EXPECT_NE(xml.find("<e name=\"serial number\" ro=\"true\">00C0FFEE</e>"), std::string::npos);
    EXPECT_NE(xml.find(">12</e>"), std::string::npos);
    EXPECT_NE(xml.find(">4</e>"), std::string::npos);
}

TEST(MdfWriterFile, HistoryChainCarriesToolIdInMdComment) {
    FileSpec spec = logger_file();
    spec.history.push_back({5, 0, 0, {"<FHcomment><tool_id>Other</tool_id></FHcomment>", true}});
    const MdfImage image = write_mdf(spec);
    const Block hd = block_at(image.bytes, 64);
    ASSERT_EQ(hd.links[1], image.offset_of("fh0"));
    const Block fh0 = block_at(image.bytes, hd.links[1]);
    EXPECT_EQ(fh0.id, "##FH");
    EXPECT_EQ(fh0.link_count, 2u);
    EXPECT_EQ(fh0.length, 24u + 16u + 16u);
    ASSERT_EQ(fh0.links[0], image.offset_of("fh1"));
    EXPECT_EQ(block_at(image.bytes, fh0.links[1]).id, "##MD");
    EXPECT_NE(text_at(image.bytes, fh0.links[1]).find("<tool_id>VX</tool_id>"), std::string::npos);
    const Block fh1 = block_at(image.bytes, fh0.links[0]);
    EXPECT_EQ(fh1.links[0], 0u);
    EXPECT_EQ(block_at(image.bytes, fh1.links[1]).id, "##TX");
    EXPECT_EQ(get_le(fh1.data, 0, 8), 5u);
}

TEST(MdfWriterFile, TextBlocksAreZeroTerminatedAndPadded) {
    FileSpec spec = logger_file();
    spec.header.comment.text = "abc";
    const MdfImage image = write_mdf(spec);
    const Block md = block_at(image.bytes, image.offset_of("hd.comment"));
    EXPECT_EQ(md.link_count, 0u);
    EXPECT_EQ(md.length, 24u + 8u);
    EXPECT_EQ(std::string(md.data.begin(), md.data.end()), std::string("abc\0\0\0\0\0", 8));
}

// Every block of a file rich in features: aligned, with the link count of
// its kind, links landing on block starts, lengths inside the file.
TEST(MdfWriterFile, EveryBlockHasItsKindsLinkCountAndValidLinks) {
    BusDataGroup group(2);
    const size_t can = group.add_group(BusGroupKind::CanDataFrame,
                                       BusGroupOptions().with_payload(PayloadStorage::SignalData).with_source(
                                           {"CAN1", kSourceTypeBus, kBusTypeCan, {"<SIcomment/>", false}}));
    const size_t vlsd = group.add_group(BusGroupKind::LinFrame,
                                        BusGroupOptions().with_payload(PayloadStorage::VlsdGroup).with_composed());
    const size_t err = group.add_group(BusGroupKind::CanErrorFrame, BusGroupOptions().with_timestamp_tick(1e-6));
    group.add(can, fd_frame(0.5, 0x100, std::vector<uint8_t>(20, 7)));
    group.add(vlsd, lin_frame(0.6, 0x12, {1, 2}));
    group.add(err, error_frame(0.7, 3));
    FileSpec spec = can_file(std::move(group));
    spec.data_groups.push_back(spec.data_groups[0]);
    const MdfImage image = write_mdf(spec);

    const std::vector<std::pair<std::string, uint64_t>> link_counts = {
        {"##HD", 6}, {"##FH", 2}, {"##DG", 4}, {"##CG", 6}, {"##CN", 8}, {"##CC", 4},
        {"##SI", 3}, {"##TX", 0}, {"##MD", 0}, {"##DT", 0}, {"##SD", 0}};
    std::vector<uint64_t> starts;
    image.offsets.for_each([&](const std::string&, uint64_t offset) { starts.push_back(offset); });
    size_t seen = 0;
    image.offsets.for_each([&](const std::string& name, uint64_t offset) {
        if (name == "id") return;
        ++seen;
        const Block b = block_at(image.bytes, offset);
        EXPECT_EQ(offset % 8, 0u) << name;
        EXPECT_LE(offset + b.length, image.bytes.size()) << name;
        bool known = false;
        for (const auto& [id, count] : link_counts) {
            if (b.id != id) continue;
            known = true;
            EXPECT_EQ(b.link_count, count) << name;
        }
        EXPECT_TRUE(known) << name << " " << b.id;
        for (uint64_t link : b.links) {
            if (link == 0) continue;
            EXPECT_NE(std::find(starts.begin(), starts.end(), link), starts.end()) << name << " -> " << link;
        }
    });
    EXPECT_GT(seen, 40u);
}

TEST(MdfWriterSorted, CanDataFrameRecordsMatchChannelPositions) {
    BusDataGroup group;
    const size_t can = group.add_group(BusGroupKind::CanDataFrame);
    std::vector<CanFrame> frames = {
        can_frame(0.25, 0x1ABCDEF0, {1, 2, 3}, 2),
        can_frame(1.5, 0x7FF, {9, 8, 7, 6, 5, 4, 3, 2}),
        fd_frame(2.0, 0x5, std::vector<uint8_t>(12, 0xEE), 3),
    };
    frames[0].dir = true;
    frames[1].esi = true;
    frames[1].dlc = 9;
    frames[1].data_length = 2;
    for (const auto& f : frames) group.add(can, f);
    const MdfImage image = write_mdf(can_file(std::move(group)));

    const Block dg = block_at(image.bytes, image.offset_of("dg0"));
    EXPECT_EQ(dg.data[0], 0u);  // sorted: no record ids
    const Block cg = block_at(image.bytes, image.offset_of("dg0.cg0"));
    EXPECT_EQ(get_le(cg.data, 0, 8), 0u);   // record id
    EXPECT_EQ(get_le(cg.data, 8, 8), 3u);   // cycle count
    const uint64_t record_size = get_le(cg.data, 24, 4);
    EXPECT_EQ(record_size, 24u);
    const Block dt = block_at(image.bytes, dg.links[2]);
    ASSERT_EQ(dt.id, "##DT");
    ASSERT_EQ(dt.data.size(), 3 * record_size);

    const std::string g = "dg0.cg0";
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const auto record = dt.data.subspan(i * record_size, record_size);
        const CanFrame& f = frames[i];
        double t;
        const uint64_t t_bits = channel_value(image, channel_named(image, g, "Timestamp"), record);
        std::memcpy(&t, &t_bits, 8);
        EXPECT_EQ(t, f.time);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.BusChannel"), record), f.bus);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.ID"), record), f.id);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.IDE"), record), f.ide);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.Dir"), record), f.dir);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.EDL"), record), f.edl);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.BRS"), record), f.brs);
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.ESI"), record), f.esi);
        const uint64_t dlc = f.dlc >= 0 ? uint64_t(f.dlc) : dlc_for_length(f.data.size());
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.DLC"), record), dlc);
        const uint64_t length = f.data_length >= 0 ? uint64_t(f.data_length) : f.data.size();
        EXPECT_EQ(channel_value(image, channel_named(image, g, "CAN_DataFrame.DataLength"), record), length);
        const Block bytes_cn = block_at(image.bytes, image.offset_of(channel_named(image, g, "CAN_DataFrame.DataBytes")));
        EXPECT_EQ(bytes_cn.data[2], kByteArray);
        EXPECT_EQ(get_le(bytes_cn.data, 8, 4), 64u);
        const size_t at = get_le(bytes_cn.data, 4, 4);
        const size_t kept = std::min<size_t>(f.data.size(), 8);
        EXPECT_TRUE(std::equal(f.data.begin(), f.data.begin() + kept, record.begin() + at));
        EXPECT_TRUE(std::all_of(record.begin() + at + kept, record.begin() + at + 8, [](uint8_t b) { return b == 0; }));
    }
}

TEST(MdfWriterSorted, TimestampChannelIsMasterFloatOrTicksWithLinearConversion) {
    struct Case { double tick; uint8_t data_type; bool has_cc; uint64_t raw; };
    const double t = 1.25;
    uint64_t t_bits;
    std::memcpy(&t_bits, &t, 8);
    for (const Case& c : {Case{0, kFloatLe, false, t_bits}, Case{1e-3, kUnsignedLe, true, 1250}}) {
        SCOPED_TRACE(c.tick);
        BusDataGroup group;
        const size_t h = group.add_group(BusGroupKind::CanErrorFrame, BusGroupOptions().with_timestamp_tick(c.tick));
        group.add(h, error_frame(t, 0));
        const MdfImage image = write_mdf(can_file(std::move(group)));
        const Block cn = block_at(image.bytes, image.offset_of("dg0.cg0.cn0"));
        EXPECT_EQ(text_at(image.bytes, cn.links[2]), "Timestamp");
        EXPECT_EQ(cn.data[0], kMaster);
        EXPECT_EQ(cn.data[2], c.data_type);
        const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
        EXPECT_EQ(get_le(dt.data, 0, 8), c.raw);
        ASSERT_EQ(cn.links[4] != 0, c.has_cc);
        if (c.has_cc) {
            const Block cc = block_at(image.bytes, cn.links[4]);
            EXPECT_EQ(cc.id, "##CC");
            EXPECT_EQ(cc.data[0], kLinearConversion);
            EXPECT_EQ(get_le(cc.data, 6, 2), 2u);
            EXPECT_EQ(cc.length, 24u + 32u + 24u + 16u);
            double factor;
            const uint64_t factor_bits = get_le(cc.data, 32, 8);
            std::memcpy(&factor, &factor_bits, 8);
            EXPECT_EQ(get_le(cc.data, 24, 8), 0u);
            EXPECT_EQ(factor, 1e-3);
        }
    }
}

TEST(MdfWriterUnsorted, RecordIdsHaveTheDataGroupsWidth) {
    for (uint8_t width = 1; width <= 8; ++width) {
        SCOPED_TRACE(int(width));
        BusDataGroup group(width);
        const size_t err = group.add_group(BusGroupKind::CanErrorFrame,
                                           BusGroupOptions().with_record_id(0x0102030405060708ULL >> (8 * (8 - width))));
        const size_t sync = group.add_group(BusGroupKind::LinSyncError);
        group.add(err, error_frame(1, 2));
        group.add(sync, lin_error(2, 0, 5));
        group.add(err, error_frame(3, 4));
        const MdfImage image = write_mdf(can_file(std::move(group)));
        EXPECT_EQ(block_at(image.bytes, image.offset_of("dg0")).data[0], width);
        const uint64_t err_id = get_le(block_at(image.bytes, image.offset_of("dg0.cg0")).data, 0, 8);
        const uint64_t sync_id = get_le(block_at(image.bytes, image.offset_of("dg0.cg1")).data, 0, 8);
        EXPECT_NE(err_id, sync_id);
        const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
        ASSERT_EQ(dt.data.size(), 3u * width + 10 + 9 + 10);
        EXPECT_EQ(get_le(dt.data, 0, width), err_id);
        EXPECT_EQ(dt.data[width + 9], 2u);  // error type behind timestamp and bus channel
        EXPECT_EQ(get_le(dt.data, width + 10, width), sync_id);
        EXPECT_EQ(dt.data[2 * width + 10 + 8], 5u);  // sync error bus channel
        EXPECT_EQ(get_le(dt.data, 2 * width + 19, width), err_id);
    }
}

TEST(MdfWriterSignalData, SdEntriesHoldLengthAndBytesAtTheRecordedOffset) {
    BusDataGroup group;
    const size_t can = group.add_group(BusGroupKind::CanDataFrame, BusGroupOptions().with_payload(PayloadStorage::SignalData));
    std::vector<uint8_t> fd(64);
    for (size_t i = 0; i < fd.size(); ++i) fd[i] = static_cast<uint8_t>(i);
    const std::vector<std::vector<uint8_t>> payloads = {{0xA1, 0xA2, 0xA3}, fd, {}};
    for (const auto& p : payloads) group.add(can, fd_frame(0, 0x10, p));
    const MdfImage image = write_mdf(can_file(std::move(group)));

    const std::string cn_name = channel_named(image, "dg0.cg0", "CAN_DataFrame.DataBytes");
    const Block cn = block_at(image.bytes, image.offset_of(cn_name));
    EXPECT_EQ(cn.data[0], kVariableLength);
    EXPECT_EQ(get_le(cn.data, 8, 4), 64u);
    ASSERT_EQ(cn.links[5], image.offset_of(cn_name + ".sd"));
    const Block sd = block_at(image.bytes, cn.links[5]);
    EXPECT_EQ(sd.id, "##SD");
    EXPECT_EQ(sd.data.size(), 3 * 4 + 3 + 64u);
    const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
    ASSERT_EQ(dt.data.size(), 3 * 24u);
    for (size_t i = 0; i < payloads.size(); ++i) {
        SCOPED_TRACE(i);
        const uint64_t entry = channel_value(image, cn_name, dt.data.subspan(24 * i, 24));
        ASSERT_EQ(get_le(sd.data, entry, 4), payloads[i].size());
        EXPECT_TRUE(std::equal(payloads[i].begin(), payloads[i].end(), sd.data.begin() + entry + 4));
    }
}

// Sequence of record ids in a DT of 1-byte ids, stepping over fixed and VLSD records.
std::vector<uint64_t> record_ids(std::span<const uint8_t> dt, uint64_t vlsd_id, uint32_t record_size) {
    std::vector<uint64_t> ids;
    size_t at = 0;
    while (at < dt.size()) {
        const uint64_t id = dt[at];
        ids.push_back(id);
        at += 1 + (id == vlsd_id ? 4 + get_le(dt, at + 1, 4) : record_size);
    }
    return ids;
}

TEST(MdfWriterVlsd, PlacementOfVlsdRecordsAroundTheirReferrer) {
    struct Case { VlsdPlacement placement; std::vector<int> order; };  // 0 = referrer, 1 = VLSD record
    const std::vector<Case> cases = {
        {VlsdPlacement::AfterReferrer, {0, 1, 0, 1}},
        {VlsdPlacement::BeforeReferrer, {1, 0, 1, 0}},
        {VlsdPlacement::Omitted, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.placement));
        BusDataGroup group(1);
        const size_t can = group.add_group(
            BusGroupKind::CanDataFrame,
            BusGroupOptions().with_payload(PayloadStorage::VlsdGroup).with_vlsd_placement(c.placement));
        group.add(can, can_frame(0, 1, {1, 2, 3}));
        group.add(can, fd_frame(0, 2, std::vector<uint8_t>(64, 0x55)));
        const MdfImage image = write_mdf(can_file(std::move(group)));

        const Block vlsd_cg = block_at(image.bytes, image.offset_of("dg0.cg1"));
        EXPECT_EQ(get_le(vlsd_cg.data, 16, 2) & kChannelGroupVlsdFlag, kChannelGroupVlsdFlag);
        EXPECT_EQ(vlsd_cg.links[1], 0u);  // no channels
        const uint64_t referrer_id = get_le(block_at(image.bytes, image.offset_of("dg0.cg0")).data, 0, 8);
        const uint64_t vlsd_id = get_le(vlsd_cg.data, 0, 8);
        const std::string cn_name = channel_named(image, "dg0.cg0", "CAN_DataFrame.DataBytes");
        EXPECT_EQ(block_at(image.bytes, image.offset_of(cn_name)).links[5], image.offset_of("dg0.cg1"));

        const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
        std::vector<uint64_t> expected;
        for (int kind : c.order) expected.push_back(kind ? vlsd_id : referrer_id);
        EXPECT_EQ(record_ids(dt.data, vlsd_id, 24), expected);
    }
}

TEST(MdfWriterVlsd, VlsdRecordFollowingItsReferrerHoldsLengthAndBytes) {
    BusDataGroup group(1);
    const size_t lin = group.add_group(BusGroupKind::LinFrame, BusGroupOptions().with_payload(PayloadStorage::VlsdGroup));
    group.add(lin, lin_frame(0, 0x21, {0xDE, 0xAD}));
    const MdfImage image = write_mdf(can_file(std::move(group)));
    const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
    const size_t record = 1 + 19;
    ASSERT_EQ(dt.data.size(), record + 1 + 4 + 2);
    EXPECT_EQ(get_le(dt.data, record + 1, 4), 2u);
    EXPECT_EQ(dt.data[record + 5], 0xDE);
    EXPECT_EQ(dt.data[record + 6], 0xAD);
}

TEST(MdfWriterComposed, StructureChannelListsMembersThroughComposition) {
    BusDataGroup group;
    const size_t can = group.add_group(BusGroupKind::CanDataFrame, BusGroupOptions().with_composed());
    group.add(can, can_frame(0, 0x42, {1}));
    const MdfImage image = write_mdf(can_file(std::move(group)));
    const Block ts = block_at(image.bytes, image.offset_of("dg0.cg0.cn0"));
    ASSERT_EQ(ts.links[0], image.offset_of("dg0.cg0.cn1"));
    const Block structure = block_at(image.bytes, ts.links[0]);
    EXPECT_EQ(text_at(image.bytes, structure.links[2]), "CAN_DataFrame");
    EXPECT_EQ(structure.links[0], 0u);
    std::vector<std::string> members;
    for (uint64_t at = structure.links[1]; at != 0; at = block_at(image.bytes, at).links[0]) {
        members.push_back(text_at(image.bytes, block_at(image.bytes, at).links[2]));
    }
    const std::vector<std::string> expected = {
        "CAN_DataFrame.BusChannel", "CAN_DataFrame.ID",  "CAN_DataFrame.IDE", "CAN_DataFrame.DLC",
        "CAN_DataFrame.DataLength", "CAN_DataFrame.Dir", "CAN_DataFrame.EDL", "CAN_DataFrame.ESI",
        "CAN_DataFrame.BRS",        "CAN_DataFrame.DataBytes"};
    EXPECT_EQ(members, expected);
    const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
    EXPECT_EQ(channel_value(image, "dg0.cg0.cn1.cn1", dt.data), 0x42u);
}

TEST(MdfWriterBusGroups, ChannelNamesAndRecordSizesPerKind) {
    struct Case { BusGroupKind kind; std::vector<std::string> names; uint32_t record_size; };
    const std::vector<Case> cases = {
        {BusGroupKind::CanRemoteFrame, {"Timestamp", "CAN_RemoteFrame.BusChannel", "CAN_RemoteFrame.ID", "CAN_RemoteFrame.IDE",
                                        "CAN_RemoteFrame.DLC", "CAN_RemoteFrame.DataLength", "CAN_RemoteFrame.Dir"}, 15},
        {BusGroupKind::CanErrorFrame, {"Timestamp", "CAN_ErrorFrame.BusChannel", "CAN_ErrorFrame.ErrorType"}, 10},
        {BusGroupKind::LinFrame, {"Timestamp", "LIN_Frame.BusChannel", "LIN_Frame.ID", "LIN_Frame.Dir", "LIN_Frame.DataLength",
                                  "LIN_Frame.ReceivedDataByteCount", "LIN_Frame.DataBytes"}, 19},
        {BusGroupKind::LinChecksumError, {"Timestamp", "LIN_ChecksumError.BusChannel", "LIN_ChecksumError.ID",
                                          "LIN_ChecksumError.Dir", "LIN_ChecksumError.DataLength",
                                          "LIN_ChecksumError.ReceivedDataByteCount", "LIN_ChecksumError.DataBytes"}, 19},
        {BusGroupKind::LinReceiveError, {"Timestamp", "LIN_ReceiveError.BusChannel", "LIN_ReceiveError.ID"}, 10},
        {BusGroupKind::LinTransmissionError, {"Timestamp", "LIN_TransmissionError.BusChannel", "LIN_TransmissionError.ID"}, 10},
        {BusGroupKind::LinSyncError, {"Timestamp", "LIN_SyncError.BusChannel"}, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(bus_group_name(c.kind));
        BusDataGroup group;
        group.add_group(c.kind);
        const MdfImage image = write_mdf(can_file(std::move(group)));
        std::vector<std::string> names;
        for (uint64_t at = block_at(image.bytes, image.offset_of("dg0.cg0")).links[1]; at != 0;
             at = block_at(image.bytes, at).links[0]) {
            names.push_back(text_at(image.bytes, block_at(image.bytes, at).links[2]));
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(get_le(block_at(image.bytes, image.offset_of("dg0.cg0")).data, 24, 4), c.record_size);
    }
}

TEST(MdfWriterBusGroups, LinAndRemoteFieldsLandInTheirChannels) {
    BusDataGroup group(1);
    const size_t lin = group.add_group(BusGroupKind::LinFrame);
    const size_t rtr = group.add_group(BusGroupKind::CanRemoteFrame);
    LinFrame lin_in = lin_frame(0, 0x3F, {1, 2, 3, 4}, 2);
    lin_in.dir = true;
    lin_in.received_byte_count = 3;
    group.add(lin, lin_in);
    CanRemoteFrame rtr_in = remote_frame(0, 0x123, 4);
    rtr_in.dir = true;
    group.add(rtr, rtr_in);
    const MdfImage image = write_mdf(can_file(std::move(group)));
    const Block dt = block_at(image.bytes, image.offset_of("dg0.dt"));
    const auto lin_record = dt.data.subspan(1, 19);
    const auto rtr_record = dt.data.subspan(21, 15);
    const struct { std::string group, channel; std::span<const uint8_t> record; uint64_t value; } cases[] = {
        {"dg0.cg0", "LIN_Frame.BusChannel", lin_record, 2},
        {"dg0.cg0", "LIN_Frame.ID", lin_record, 0x3F},
        {"dg0.cg0", "LIN_Frame.Dir", lin_record, 1},
        {"dg0.cg0", "LIN_Frame.DataLength", lin_record, 4},
        {"dg0.cg0", "LIN_Frame.ReceivedDataByteCount", lin_record, 3},
        {"dg0.cg1", "CAN_RemoteFrame.ID", rtr_record, 0x123},
        {"dg0.cg1", "CAN_RemoteFrame.Dir", rtr_record, 1},
        {"dg0.cg1", "CAN_RemoteFrame.DLC", rtr_record, 4},
        {"dg0.cg1", "CAN_RemoteFrame.DataLength", rtr_record, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(channel_value(image, channel_named(image, c.group, c.channel), c.record), c.value) << c.channel;
    }
    EXPECT_EQ(lin_record[11], 1);
    EXPECT_EQ(lin_record[14], 4);
}

TEST(MdfWriterChannels, ConversionsSourcesAndAttachmentLinks) {
    DataGroupSpec dg;
    ChannelGroupSpec cg;
    cg.data_bytes = 1;
    ChannelSpec cn;
    cn.name = "Gear";
    cn.bit_count = 8;
    cn.conversion = ConversionSpec::value_table({{1, 10}, {2, 20}});
    cn.source = SourceSpec{"LIN1", kSourceTypeBus, kBusTypeLin, {"<SIcomment/>", false}};
    cn.attachment_count = 1;
    cg.channels.push_back(cn);
    dg.groups.push_back(cg);
    FileSpec spec = logger_file();
    spec.data_groups.push_back(dg);
    const MdfImage image = write_mdf(spec);
    const Block block = block_at(image.bytes, image.offset_of("dg0.cg0.cn0"));
    EXPECT_EQ(block.link_count, 9u);
    EXPECT_EQ(get_le(block.data, 22, 2), 1u);
    const Block cc = block_at(image.bytes, block.links[4]);
    EXPECT_EQ(cc.data[0], kValueTableConversion);
    EXPECT_EQ(get_le(cc.data, 6, 2), 4u);
    double values[4];
    for (int i = 0; i < 4; ++i) {
        const uint64_t bits = get_le(cc.data, 24 + 8 * i, 8);
        std::memcpy(&values[i], &bits, 8);
    }
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 10);
    EXPECT_EQ(values[3], 20);
    const Block si = block_at(image.bytes, block.links[3]);
    EXPECT_EQ(si.id, "##SI");
    EXPECT_EQ(si.data[0], kSourceTypeBus);
    EXPECT_EQ(si.data[1], kBusTypeLin);
    EXPECT_EQ(text_at(image.bytes, si.links[2]), "<SIcomment/>");
    EXPECT_EQ(text_at(image.bytes, si.links[0]), "LIN1");
}

TEST(MdfWriterUnfinalised, MarksIdAndLeavesLastDataLengthUnset) {
    FileSpec spec = logger_file();
    for (int i = 0; i < 2; ++i) {
        BusDataGroup group;
        const size_t h = group.add_group(BusGroupKind::CanErrorFrame);
        group.add(h, error_frame(double(i), 1));
        spec.data_groups.push_back(group.take());
    }
    spec.finalised = false;
    const MdfImage image = write_mdf(spec);
    EXPECT_EQ(std::string(image.bytes.begin(), image.bytes.begin() + 8), "UnFinMF ");
    EXPECT_EQ(get_le(image.bytes, 60, 2), kUnfinalizedDataLengthFlag);
    const uint64_t first = image.offset_of("dg0.dt"), last = image.offset_of("dg1.dt");
    EXPECT_LT(first, last);
    EXPECT_EQ(block_at(image.bytes, first).length, 24u + 10u);
    EXPECT_EQ(block_at(image.bytes, last).length, 24u);
    EXPECT_EQ(image.bytes.size(), last + 24 + 10);  // the file ends with the last record
}

TEST(MdfWriterBreakage, RawBlocksAndLinkPatchesReplaceLinks) {
    BusDataGroup group;
    group.add_group(BusGroupKind::CanErrorFrame);
    FileSpec spec = can_file(std::move(group));
    spec.extra_blocks.push_back({"dz", "##DZ", {}, {1, 2, 3, 4, 5, 6, 7, 8}});
    spec.extra_blocks.push_back({"ch", "##CH", {0, 0, 0, 0}, {}});
    spec.link_patches = {{"dg0", 2, "dz", 0},            // data link to an unknown kind
                         {"hd", 2, "ch", 0},             // channel hierarchy
                         {"dg0.cg0.cn1", 0, "dg0.cg0.cn0", 0},  // cycle back to the first channel
                         {"hd", 4, "", 4096},            // raw offset
                         {"nonexistent", 0, "hd", 0}};
    const MdfImage image = write_mdf(spec);
    const Block dz = block_at(image.bytes, image.offset_of("dz"));
    EXPECT_EQ(dz.id, "##DZ");
    EXPECT_EQ(dz.length, 32u);
    EXPECT_EQ(block_at(image.bytes, image.offset_of("ch")).link_count, 4u);
    EXPECT_EQ(read_link(image.bytes, image.offset_of("dg0"), 2), image.offset_of("dz"));
    EXPECT_EQ(read_link(image.bytes, 64, 2), image.offset_of("ch"));
    EXPECT_EQ(read_link(image.bytes, 64, 4), 4096u);
    EXPECT_EQ(read_link(image.bytes, image.offset_of("dg0.cg0.cn1"), 0), image.offset_of("dg0.cg0.cn0"));
}

TEST(MdfWriterBreakage, PatchHelpersEditBlocksInPlace) {
    MdfImage image = write_mdf(logger_file());
    const uint64_t fh = image.offset_of("fh0");
    patch_block_id(image.bytes, fh, "##XY");
    patch_link(image.bytes, fh, 1, 0);
    patch_le(image.bytes, fh + 16, 3, 8);
    const Block b = block_at(image.bytes, fh);
    EXPECT_EQ(b.id, "##XY");
    EXPECT_EQ(b.link_count, 3u);
    EXPECT_EQ(b.links[1], 0u);
    EXPECT_EQ(read_link(image.bytes, image.bytes.size(), 0), 0u);  // out of range reads 0
}

TEST(MdfWriterOutput, FileOnDiskEqualsImage) {
    BusDataGroup group(1);
    const size_t can = group.add_group(BusGroupKind::CanDataFrame, BusGroupOptions().with_payload(PayloadStorage::SignalData));
    for (int i = 0; i < 100; ++i) group.add(can, can_frame(i * 0.01, uint32_t(i), {uint8_t(i)}));
    const FileSpec spec = can_file(std::move(group));
    const std::string path = ::testing::TempDir() + "mdf_writer_output.mf4";
    ASSERT_TRUE(write_mdf_file(spec, path));
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> on_disk(1 << 20);
    on_disk.resize(std::fread(on_disk.data(), 1, on_disk.size(), f));
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(on_disk, write_mdf(spec).bytes);
    EXPECT_FALSE(write_mdf_file(spec, "/nonexistent-dir/x.mf4"));
}

TEST(MdfWriterFields, PutBitsWritesLittleEndianFields) {
    struct Case { uint64_t position; uint32_t count; uint64_t value; std::vector<uint8_t> expected; };
    const std::vector<Case> cases = {
        {0, 8, 0xAB, {0xAB, 0, 0}},
        {4, 8, 0xDA, {0xA0, 0x0D, 0}},
        {5, 1, 1, {0x20, 0, 0}},
        {0, 29, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF}},  // cut at the end of the record
        {12, 12, 0xABC, {0, 0xC0, 0xAB}},
        {20, 8, 0xFF, {0, 0, 0xF0}},              // bits past the end are dropped
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> record(3, 0);
        put_bits(record, c.position, c.count, c.value);
        EXPECT_EQ(record, c.expected) << c.position << "/" << c.count;
    }
    std::vector<uint8_t> ones(2, 0xFF);
    put_bits(ones, 4, 4, 0);
    EXPECT_EQ(ones, (std::vector<uint8_t>{0x0F, 0xFF}));  // clears bits as well
}

TEST(MdfWriterFields, DlcForLength) {
    const std::pair<size_t, uint8_t> cases[] = {{0, 0}, {8, 8}, {9, 9}, {12, 9}, {13, 10}, {20, 11},
                                                {24, 12}, {25, 13}, {33, 14}, {48, 14}, {64, 15}, {65, 15}};
    for (const auto& [length, dlc] : cases) EXPECT_EQ(dlc_for_length(length), dlc) << length;
}

}  // namespace
}  // namespace tracemill::tools
