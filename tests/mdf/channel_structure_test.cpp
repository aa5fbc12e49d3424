// Data groups, channel groups, channels, conversions and sources as loaded
// from files written by the test log writer.
#include <gtest/gtest.h>

#include "block_test_support.h"
#include "mdf/block_reader.h"
#include "mdf_writer.h"

namespace tracemill {
namespace {

using testing_support::open_image;
using testing_support::OpenedImage;

tools::ChannelSpec channel(std::string name, uint32_t byte_offset, uint32_t bit_count) {
    tools::ChannelSpec spec;
    spec.name = std::move(name);
    spec.byte_offset = byte_offset;
    spec.bit_count = bit_count;
    return spec;
}

tools::ChannelGroupSpec group(uint64_t record_id, std::vector<tools::ChannelSpec> channels) {
    tools::ChannelGroupSpec spec;
    spec.record_id = record_id;
    spec.data_bytes = 16;
    spec.inval_bytes = 1;
    spec.channels = std::move(channels);
    return spec;
}

std::string name_of(const BlockRef& block) {
    const TextBlock* text = block_as<TxBlock>(block);
    return text ? text->text : "<none>";
}

TEST(ChannelStructure, FieldsAndChainOrderAreLoaded) {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec data_group;
    data_group.record_id_size = 1;
    tools::ChannelSpec first = channel("CAN_DataFrame.ID", 8, 29);
    first.bit_offset = 3;
    first.data_type = tools::kUnsignedBe;
    first.unit = "id";
    first.source = tools::SourceSpec{"CAN1", tools::kSourceTypeBus, tools::kBusTypeLin, {}};
    first.conversion = tools::ConversionSpec::linear(2.5, 4.0);
    data_group.groups = {group(7, {channel("Timestamp", 0, 64), first}), group(8, {}),
                         group(9, {channel("A", 0, 1)})};
    data_group.groups[0].acq_name = "bus";
    data_group.groups[0].comment.text = "<CGcomment/>";
    spec.data_groups = {data_group};
    tools::MdfImage image = tools::write_mdf(spec);
    OpenedImage opened = open_image(image.bytes);
    ASSERT_NE(opened.file, nullptr);

    const HdBlock* header = opened.file->header();
    ASSERT_EQ(header->data_groups.size(), 1u);
    const DgBlock* dg = block_as<DgBlock>(header->data_groups[0]);
    ASSERT_NE(dg, nullptr);
    EXPECT_EQ(dg->record_id_size, 1);
    ASSERT_NE(block_as<DtBlock>(dg->data), nullptr);
    ASSERT_EQ(dg->channel_groups.size(), 3u);
    std::vector<uint64_t> record_ids;
    for (const BlockRef& ref : dg->channel_groups) record_ids.push_back(block_as<CgBlock>(ref)->record_id);
    EXPECT_EQ(record_ids, (std::vector<uint64_t>{7, 8, 9}));

    const CgBlock* cg = block_as<CgBlock>(dg->channel_groups[0]);
    EXPECT_EQ(cg->data_bytes, 16u);
    EXPECT_EQ(cg->inval_bytes, 1u);
    EXPECT_EQ(name_of(cg->acq_name), "bus");
    EXPECT_NE(block_as<MdBlock>(cg->comment), nullptr);
    ASSERT_EQ(cg->channels.size(), 2u);
    EXPECT_EQ(name_of(block_as<CnBlock>(cg->channels[0])->name), "Timestamp");
    EXPECT_TRUE(block_as<CgBlock>(dg->channel_groups[1])->channels.empty());

    const CnBlock* cn = block_as<CnBlock>(cg->channels[1]);
    EXPECT_EQ(name_of(cn->name), "CAN_DataFrame.ID");
    EXPECT_EQ(cn->byte_offset, 8u);
    EXPECT_EQ(cn->bit_offset, 3);
    EXPECT_EQ(cn->bit_count, 29u);
    EXPECT_EQ(cn->data_type, tools::kUnsignedBe);
    EXPECT_EQ(name_of(cn->unit), "id");

    const CcBlock* cc = block_as<CcBlock>(cn->conversion);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(cc->conversion_type, tools::kLinearConversion);
    EXPECT_EQ(cc->values, (std::vector<double>{2.5, 4.0}));

    const SiBlock* si = block_as<SiBlock>(cn->source);
    ASSERT_NE(si, nullptr);
    EXPECT_TRUE(si->is_bus());
    EXPECT_EQ(si->bus_type, tools::kBusTypeLin);
    EXPECT_EQ(name_of(si->name), "CAN1");
}

TEST(ChannelStructure, CompositionAndSignalDataAreFollowed) {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec data_group;
    tools::ChannelSpec composed = channel("CAN_DataFrame", 8, 0);
    composed.members = {channel("CAN_DataFrame.ID", 8, 29), channel("CAN_DataFrame.DLC", 12, 4)};
    tools::ChannelSpec bytes = channel("CAN_DataFrame.DataBytes", 16, 64);
    bytes.channel_type = tools::kVariableLength;
    bytes.data_type = tools::kByteArray;
    const uint8_t payload[] = {1, 2, 3};
    tools::RecordAppender::append_signal_entry(bytes, payload);
    data_group.groups = {group(0, {channel("Timestamp", 0, 64), composed, bytes})};
    data_group.groups[0].data_bytes = 24;
    spec.data_groups = {data_group};
    OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
    ASSERT_NE(opened.file, nullptr);

    const CgBlock* cg = block_as<CgBlock>(block_as<DgBlock>(opened.file->header()->data_groups[0])->channel_groups[0]);
    ASSERT_EQ(cg->channels.size(), 3u);
    const CnBlock* parent = block_as<CnBlock>(cg->channels[1]);
    ASSERT_EQ(parent->composition.size(), 2u);
    EXPECT_EQ(name_of(block_as<CnBlock>(parent->composition[1])->name), "CAN_DataFrame.DLC");
    const DataBlock* signal = block_as<SdBlock>(block_as<CnBlock>(cg->channels[2])->data);
    ASSERT_NE(signal, nullptr);
    EXPECT_EQ(signal->data_size(), 4u + 3u);
}

TEST(ChannelStructure, ConversionValueCountsAreHonoured) {
    for (size_t count : {size_t{0}, size_t{2}, size_t{6}}) {
        SCOPED_TRACE(count);
        tools::FileSpec spec = tools::logger_file();
        tools::DataGroupSpec data_group;
        tools::ChannelSpec converted = channel("X", 0, 8);
        converted.conversion = tools::ConversionSpec{tools::kValueTableConversion, {}, 0, {}};
        for (size_t i = 0; i < count; ++i) converted.conversion->values.push_back(double(i) * 1.5);
        data_group.groups = {group(0, {converted})};
        spec.data_groups = {data_group};
        OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
        ASSERT_NE(opened.file, nullptr);
        const CgBlock* cg = block_as<CgBlock>(block_as<DgBlock>(opened.file->header()->data_groups[0])->channel_groups[0]);
        const CcBlock* cc = block_as<CcBlock>(block_as<CnBlock>(cg->channels[0])->conversion);
        ASSERT_NE(cc, nullptr);
        EXPECT_EQ(cc->val_count, count);
        ASSERT_EQ(cc->values.size(), count);
        if (count) {
            EXPECT_EQ(cc->values.back(), double(count - 1) * 1.5);
        }
    }
}

TEST(ChannelStructure, NameSharedByTwoChannelsIsOneBlock) {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec data_group;
    data_group.groups = {group(0, {channel("Shared", 0, 8), channel("Other", 1, 8)})};
    spec.data_groups = {data_group};
    spec.link_patches.push_back({"dg0.cg0.cn1", 2, "dg0.cg0.cn0.name"});
    OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
    ASSERT_NE(opened.file, nullptr);
    const CgBlock* cg = block_as<CgBlock>(block_as<DgBlock>(opened.file->header()->data_groups[0])->channel_groups[0]);
    const BlockRef& first = block_as<CnBlock>(cg->channels[0])->name;
    const BlockRef& second = block_as<CnBlock>(cg->channels[1])->name;
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(name_of(second), "Shared");
    EXPECT_EQ(first.use_count(), 2);
}

TEST(ChannelStructure, KindCheckedAccessorsTreatOtherKindsAsEmpty) {
    tools::FileSpec spec = tools::logger_file();
    tools::DataGroupSpec data_group;
    data_group.groups = {group(0, {channel("A", 0, 8)})};
    spec.data_groups = {data_group};
    // The data link points at a channel: it loads, but is no data block.
    spec.link_patches.push_back({"dg0", 2, "dg0.cg0.cn0.name"});
    OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
    ASSERT_NE(opened.file, nullptr);
    const DgBlock* dg = block_as<DgBlock>(opened.file->header()->data_groups[0]);
    ASSERT_NE(dg->data, nullptr);
    EXPECT_EQ(block_as<DtBlock>(dg->data), nullptr);
    EXPECT_EQ(block_as<SdBlock>(dg->data), nullptr);
    EXPECT_NE(block_as<TxBlock>(dg->data), nullptr);
    EXPECT_EQ(block_as<MdBlock>(dg->data), nullptr);
}

}  // namespace
}  // namespace tracemill
