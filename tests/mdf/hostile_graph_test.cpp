// Crafted files whose blocks share sub-graphs: each costs work and memory
// in proportion to its size, and the records of ordinary groups still come out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mdf/blocks.h"
#include "mdf/block_test_support.h"
#include "mdf/crafted_graphs.h"
#include "mdf/metadata.h"
#include "mdf/record_test_support.h"

namespace tracemill {
namespace {

using testing_support::read_frames;
using ::testing::HasSubstr;
using ::testing::SizeIs;

TEST(HostileGraphs, SharedCompositionIsExpandedOncePerBlock) {
    // 2^30 paths to one leaf channel: the leaf is one decoder among the group's.
    const auto result = read_frames(testing_support::shared_composition(30));
    ASSERT_TRUE(result.opened);
    EXPECT_THAT(result.frames, SizeIs(2));
}

TEST(HostileGraphs, NestedTextsRunningToTheEndOfTheFileAreRefused) {
    const std::vector<uint8_t> bytes = testing_support::nested_history_texts(500);
    std::string log = testing_support::captured_log([&] {
        EXPECT_EQ(testing_support::open_image(bytes).file, nullptr);
    });
    EXPECT_THAT(log, HasSubstr("Text blocks of the file hold more text than the file can"));
}

TEST(HostileGraphs, HistoryTextsGoOnceTheLoggerIsRecognised) {
    const auto image = tools::write_mdf(testing_support::can_file(1));
    const auto opened = testing_support::open_image(image.bytes);
    ASSERT_NE(opened.file, nullptr);
    const auto* history = block_as<FhBlock>(opened.file->header()->file_history.at(0));
    ASSERT_NE(block_as<MdBlock>(history->comment), nullptr);
    EXPECT_EQ(block_as<MdBlock>(history->comment)->text, "");
    EXPECT_NE(block_as<MdBlock>(opened.file->header()->comment)->text, "");  // still to be read
}

MetadataMap metadata_of(const tools::FileSpec& spec, std::string& log) {
    const auto image = tools::write_mdf(spec);
    const auto opened = testing_support::open_image(image.bytes);
    MetadataMap map;
    log = testing_support::captured_log([&] { map = read_header_metadata(*opened.file); });
    return map;
}

TEST(HostileGraphs, DeepLongKeysBeyondTheCommentsSizeAreRefused) {
    std::string log;
    // 300 keys of 50 000 bytes each from a comment of about 55 000 bytes.
    EXPECT_EQ(metadata_of(testing_support::deep_header_xml(50, 1000, 300), log).size(), 0u);
    EXPECT_THAT(log,
                HasSubstr("Logger properties skipped: their keys take more room than the comments that hold them"));
    // Deep but short: read as before.
    EXPECT_EQ(metadata_of(testing_support::deep_header_xml(5, 8, 300), log).size(), 303u);
    EXPECT_EQ(log, "");
}

TEST(HostileGraphs, CommentSharedByManySourcesGivesItsPropertiesOnce) {
    // Parsed once for all sources: the entries are those of one parse.
    std::string log;
    const MetadataMap map = metadata_of(testing_support::shared_source_comment(2000, 50), log);
    EXPECT_EQ(map.size(), 3u + 50u);
    EXPECT_NE(map.find("SIcomment.Bus.k49"), nullptr);
    EXPECT_EQ(log, "");
}

TEST(HostileGraphs, RecordIdsApartByMultiplesOf2To32AreAllRegistered) {
    const auto result = read_frames(testing_support::colliding_record_ids(1000));
    EXPECT_THAT(result.frames, SizeIs(2));
    EXPECT_EQ(result.log, "");
}

TEST(HostileGraphs, DataBlockSharedByDataGroupsIsReadOnce) {
    const auto result = read_frames(testing_support::groups_sharing_data_block(3, 2));
    EXPECT_THAT(result.frames, SizeIs(2));
    for (const char* group : {"2", "3", "4"})
        EXPECT_THAT(result.log, HasSubstr(std::string("Records of data group ") + group +
                                          " (at offset ")) << group;
    EXPECT_THAT(result.log, HasSubstr("end after 0 records: its data was already read by an earlier data group"));
    ASSERT_THAT(result.early_ends, SizeIs(3));
    EXPECT_EQ(result.early_ends[0].end, RecordEnd::DataAlreadyRead);
}

}  // namespace
}  // namespace tracemill
