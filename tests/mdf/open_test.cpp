// Opening files: identifiers, the logger check, refused header links and
// blocks, cycles, and the repair of unfinalised files.
#include <gtest/gtest.h>

#include "block_test_support.h"
#include "mdf/block_reader.h"
#include "mdf_writer.h"

namespace tracemill {
namespace {

using testing_support::captured_log;
using testing_support::open_image;
using testing_support::OpenedImage;

// A logger file with one data group holding one small channel group.
tools::FileSpec one_group_file() {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec group;
    tools::ChannelGroupSpec channels;
    channels.data_bytes = 9;
    tools::ChannelSpec timestamp;
    timestamp.name = "Timestamp";
    timestamp.data_type = tools::kFloatLe;
    timestamp.bit_count = 64;
    tools::ChannelSpec id;
    id.name = "CAN_DataFrame.ID";
    id.byte_offset = 8;
    id.bit_count = 8;
    channels.channels = {timestamp, id};
    group.groups.push_back(channels);
    spec.data_groups.push_back(group);
    return spec;
}

struct OpenResult {
    bool opened;
    std::string log;
};

OpenResult try_open(const std::vector<uint8_t>& bytes) {
    OpenedImage image;
    const std::string log = captured_log([&] { image = open_image(bytes); });
    return {image.file != nullptr, log};
}

TEST(OpenIdentifier, BothIdentifiersOpenAndOthersDoNot) {
    struct Case {
        const char* label;
        const char* first8;  // nullptr: as written
        bool finalised;
        bool opens;
        const char* log;
    };
    const Case cases[] = {
        {"finalised", nullptr, true, true, ""},
        {"unfinalised", nullptr, false, true, ""},
        {"zero byte in the identifier", "MDF    \0", true, false, "Unable to load block header for type MDF    \n"},
        {"other identifier", "MDF4    ", true, false, "Unable to load block header for type MDF4    \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        spec.finalised = c.finalised;
        tools::MdfImage image = tools::write_mdf(spec);
        if (c.first8) std::memcpy(image.bytes.data(), c.first8, 8);
        const OpenResult result = try_open(image.bytes);
        EXPECT_EQ(result.opened, c.opens) << result.log;
        if (*c.log) {
            EXPECT_NE(result.log.find(c.log), std::string::npos) << result.log;
        }
    }
}

TEST(OpenIdentifier, HeaderBlockMustFollowTheIdBlock) {
    tools::MdfImage image = tools::write_mdf(one_group_file());
    tools::patch_block_id(image.bytes, 64, "##FH");
    EXPECT_FALSE(try_open(image.bytes).opened);
}

TEST(OpenLoggerCheck, OnlyAnFhCommentInAnMdBlockNamesTheLogger) {
    struct Case {
        const char* label;
        std::vector<tools::CommentSpec> history;  // one FH per comment
        std::string header_comment;
        bool opens;
    };
    const std::string hd_xml = tools::logger_properties_xml({});
    const Case cases[] = {
        {"short tool id", {{tools::tool_history_xml("VX")}}, hd_xml, true},
        {"long tool id", {{tools::tool_history_xml("Vortlex")}}, hd_xml, true},
        {"second entry names it", {{tools::tool_history_xml("other")}, {tools::tool_history_xml("VX")}}, hd_xml,
         true},
        {"bare tag without XML around it", {{"<tool_id>VX</tool_id>"}}, hd_xml, true},
        {"other letter case", {{tools::tool_history_xml("vx")}}, hd_xml, false},
        {"other spacing", {{"<FHcomment><tool_id> VX </tool_id></FHcomment>"}}, hd_xml, false},
        {"other tool", {{tools::tool_history_xml("Logger2")}}, hd_xml, false},
        {"held in a TX block", {{tools::tool_history_xml("VX"), true}}, hd_xml, false},
        {"no file history", {}, hd_xml, false},
        {"history without comment", {{""}}, hd_xml, false},
        {"only in the header comment", {{tools::tool_history_xml("other")}}, tools::tool_history_xml("VX"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        spec.header.comment.text = c.header_comment;
        spec.history.clear();
        for (const tools::CommentSpec& comment : c.history) spec.history.push_back({0, 0, 0, comment});
        const OpenResult result = try_open(tools::write_mdf(spec).bytes);
        EXPECT_EQ(result.opened, c.opens) << result.log;
        EXPECT_EQ(result.log.find("Unsupported MF4 file") != std::string::npos, !c.opens) << result.log;
    }
}

TEST(OpenRefusals, UnsupportedLinksAndBlocksFailTheFile) {
    struct Case {
        const char* label;
        tools::LinkPatch patch;
        const char* log;  // empty: fails without a message of its own
    };
    const Case cases[] = {
        {"channel hierarchy", {"hd", 2, "fh0"}, "Unsupported parameter present in file"},
        {"attachment", {"hd", 3, "fh0"}, "Unsupported parameter present in file"},
        {"event", {"hd", 4, "fh0"}, "Unsupported parameter present in file"},
        {"sample reduction", {"dg0.cg0", 4, "fh0"}, "Unsupported parameter present in file"},
        {"compressed data block", {"dg0", 2, "dz"}, "Unable to load block header for type ##DZ\n"},
        {"data list as composition", {"dg0.cg0.cn1", 1, "dz"}, "Unable to load block header for type ##DZ\n"},
        {"link into the middle of a block", {"dg0.cg0.cn0", 2, "", 65}, ""},
        {"link beyond the end of the file", {"dg0", 3, "", uint64_t{1} << 40}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        spec.extra_blocks.push_back({"dz", "##DZ", {}, std::vector<uint8_t>(24, 0)});
        spec.link_patches.push_back(c.patch);
        const OpenResult result = try_open(tools::write_mdf(spec).bytes);
        EXPECT_FALSE(result.opened);
        if (*c.log) {
            EXPECT_NE(result.log.find(c.log), std::string::npos) << result.log;
        }
        EXPECT_EQ(result.log.find("Unsupported MF4 file"), std::string::npos) << result.log;
    }
}

TEST(OpenRefusals, WrongLinkCountsFailSilently) {
    struct Case {
        const char* label;
        const char* block;  // block whose declared link count is changed; nullptr: see spec change
        uint64_t link_count;
        bool attachment;
        bool reference_links;
    };
    const Case cases[] = {
        {"header", "hd", 5, false, false},
        {"file history", "fh0", 3, false, false},
        {"data group", "dg0", 3, false, false},
        {"channel group", "dg0.cg0", 7, false, false},
        {"channel", "dg0.cg0.cn0", 7, false, false},
        {"channel name", "dg0.cg0.cn0.name", 1, false, false},
        {"history comment", "fh0.comment", 1, false, false},
        {"channel with an attachment", nullptr, 0, true, false},
        {"conversion with reference links", nullptr, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        tools::ChannelSpec& channel = spec.data_groups[0].groups[0].channels[1];
        if (c.attachment) channel.attachment_count = 1;
        channel.conversion = tools::ConversionSpec::linear(0, 1);
        if (c.reference_links) channel.conversion->ref_count = 1;
        tools::MdfImage image = tools::write_mdf(spec);
        if (c.block) {
            ASSERT_NE(image.offset_of(c.block), 0u);
            tools::patch_le(image.bytes, image.offset_of(c.block) + 16, c.link_count, 8);
        }
        const OpenResult result = try_open(image.bytes);
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.log, "");
    }
    EXPECT_TRUE(try_open(tools::write_mdf(one_group_file()).bytes).opened);
}

TEST(OpenCycles, LoopingFilesFailPromptly) {
    struct Case {
        const char* label;
        tools::LinkPatch patch;
        const char* detected_at;  // name of the block whose load was still in progress
    };
    const Case cases[] = {
        {"data group chain to itself", {"dg0", 0, "dg0"}, "dg0"},
        {"data group back to the header", {"dg0", 3, "hd"}, "hd"},
        {"channel name to its group", {"dg0.cg0.cn1", 2, "dg0.cg0"}, "dg0.cg0"},
        {"channel chain back to the first", {"dg0.cg0.cn1", 0, "dg0.cg0.cn0"}, "dg0.cg0.cn0"},
        {"history comment to the header", {"fh0", 1, "hd"}, "hd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        spec.link_patches.push_back(c.patch);
        tools::MdfImage image = tools::write_mdf(spec);
        const OpenResult result = try_open(image.bytes);
        EXPECT_FALSE(result.opened);
        EXPECT_NE(result.log.find("Link cycle detected at offset " + std::to_string(image.offset_of(c.detected_at))),
                  std::string::npos)
            << result.log;
    }
}

TEST(OpenUnfinalised, LastDataBlockRunsToTheEndOfTheFile) {
    tools::FileSpec spec = one_group_file();
    spec.data_groups.push_back(spec.data_groups[0]);
    spec.data_groups.push_back(spec.data_groups[0]);
    for (auto& group : spec.data_groups) group.records.assign(45, 0xAB);
    spec.data_groups[1].has_data_block = false;
    spec.finalised = false;
    tools::MdfImage image = tools::write_mdf(spec);
    // The logger appends data blocks; make the first group's the last in the file.
    const uint64_t first_dt = image.offset_of("dg0.dt");
    const uint64_t last_dt = image.offset_of("dg2.dt");
    ASSERT_LT(first_dt, last_dt);
    tools::patch_link(image.bytes, image.offset_of("dg0"), 2, last_dt);
    tools::patch_link(image.bytes, image.offset_of("dg2"), 2, first_dt);
    image.bytes.resize(image.bytes.size() + 100, 0xCD);  // more logged data behind the written length

    OpenedImage opened = open_image(image.bytes);
    ASSERT_NE(opened.file, nullptr);
    const HdBlock* header = opened.file->header();
    const DataBlock* repaired = block_as<DtBlock>(block_as<DgBlock>(header->data_groups[0])->data);
    const DataBlock* other = block_as<DtBlock>(block_as<DgBlock>(header->data_groups[2])->data);
    EXPECT_EQ(repaired->file_offset, last_dt);
    EXPECT_EQ(repaired->header.length, image.bytes.size() - last_dt);
    EXPECT_EQ(other->header.length, 24u + 45u);
    EXPECT_EQ(opened.file->id_block()->unfinalized_flags & 4, 0);
}

TEST(OpenUnfinalised, FilesWithoutDataBlocksOrTheFlagStayAsTheyAre) {
    struct Case {
        const char* label;
        bool finalised;
        uint16_t flags;
        bool has_data_block;
        uint16_t flags_after;
        uint64_t length_after;
    };
    const Case cases[] = {
        {"no data blocks", false, 4 | 1, false, 4 | 1, 0},
        {"other flags only", false, 1 | 8, true, 1 | 8, 24},
        {"finalised", true, 0, true, 0, 24 + 45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec = one_group_file();
        spec.finalised = c.finalised;
        spec.unfinalized_flags = c.flags;
        spec.data_groups[0].has_data_block = c.has_data_block;
        spec.data_groups[0].records.assign(45, 0);
        OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
        ASSERT_NE(opened.file, nullptr);
        EXPECT_EQ(opened.file->id_block()->unfinalized_flags, c.flags_after);
        const DataBlock* data = block_as<DtBlock>(block_as<DgBlock>(opened.file->header()->data_groups[0])->data);
        EXPECT_EQ(data ? data->header.length : 0, c.length_after);
    }
}

TEST(OpenGraph, LongDataGroupChainsOpenAndRelease) {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec group;
    group.has_data_block = false;
    spec.data_groups.assign(50000, group);
    OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
    ASSERT_NE(opened.file, nullptr);
    const HdBlock* header = opened.file->header();
    ASSERT_EQ(header->data_groups.size(), 50000u);
    for (size_t i = 1; i < header->data_groups.size(); ++i)
        ASSERT_LT(header->data_groups[i - 1]->file_offset, header->data_groups[i]->file_offset);
}

TEST(OpenGraph, CacheIsGoneAfterTheOpen) {
    OpenedImage opened = open_image(tools::write_mdf(one_group_file()).bytes);
    ASSERT_NE(opened.file, nullptr);
    // Only the file holds the ID block, only the ID block the header.
    EXPECT_EQ(opened.file->id.use_count(), 1);
    EXPECT_EQ(opened.file->id_block()->hd.use_count(), 1);
    std::weak_ptr<MdfBlock> header = opened.file->id_block()->hd;
    opened.file.reset();
    EXPECT_TRUE(header.expired());
}

}  // namespace
}  // namespace tracemill
