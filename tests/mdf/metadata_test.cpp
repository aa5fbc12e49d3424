// Logger properties from the XML of the header and bus source comments.
#include <gtest/gtest.h>

#include "block_test_support.h"
#include "mdf/block_reader.h"
#include "mdf/metadata.h"
#include "mdf_writer.h"

namespace tracemill {
namespace {

using testing_support::open_image;
using testing_support::OpenedImage;

std::string properties(std::string_view inner) {
    return "<root><common_properties>" + std::string(inner) + "</common_properties></root>";
}

// key=value pairs of the map, sorted, for comparisons that ignore slot order.
std::vector<std::string> entries_of(const MetadataMap& map) {
    std::vector<std::string> entries;
    map.for_each([&](const std::string& key, const MetadataEntry& entry) {
        EXPECT_EQ(entry.key, key);
        entries.push_back(key + "=" + entry.value);
    });
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST(MetadataParse, KeysValuesAndWhatIsLeftOut) {
    struct Case {
        const char* label;
        std::string xml;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"entry in nested trees",
         properties("<tree name=\"Device\"><tree name=\"Radio\"><e name=\"band\">2</e></tree></tree>"),
         {"root.Device.Radio.band=2"}},
        {"entry directly under the properties", properties("<e name=\"serial number\">00AB</e>"),
         {"root.serial number=00AB"}},
        {"sibling trees", properties("<tree name=\"A\"><e name=\"x\">1</e></tree><tree name=\"B\"><e name=\"x\">2</e></tree>"),
         {"root.A.x=1", "root.B.x=2"}},
        {"entries outside the properties", "<root><other><e name=\"x\">1</e></other><e name=\"y\">2</e></root>", {}},
        {"properties not directly under the root",
         "<root><wrap><common_properties><e name=\"x\">1</e></common_properties></wrap></root>", {}},
        {"other elements add their element name, not their name attribute",
         properties("<group name=\"g\"><e name=\"x\">1</e></group>"), {"root.group.x=1"}},
        {"leading space dropped", properties("<e name=\"a\"> 42</e>"), {"root.a=42"}},
        {"several leading spaces, inner and trailing kept", properties("<e name=\"a\">   4 2 </e>"),
         {"root.a=4 2 "}},
        {"leading line break kept", properties("<e name=\"a\">\n42</e>"), {"root.a=\n42"}},
        {"leading tab kept", properties("<e name=\"a\">\t42</e>"), {"root.a=\t42"}},
        {"only spaces", properties("<e name=\"a\">   </e>"), {"root.a="}},
        {"entity joins the text", properties("<e name=\"a\">x&amp;y</e>"), {"root.a=x&y"}},
        {"text after a nested element is not collected", properties("<e name=\"a\">x<b/>y</e>"), {"root.a=x"}},
        {"first entry of a key stays", properties("<e name=\"a\">1</e><e name=\"a\">2</e>"), {"root.a=1"}},
        {"no properties at all", "<root/>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MetadataMap map;
        EXPECT_TRUE(parse_common_properties(c.xml, map));
        EXPECT_EQ(entries_of(map), c.entries);
    }
}

// The second "split" changes nothing: the first entry of a key keeps its attributes.
TEST(MetadataParse, AttributesFillTheEntry) {
    MetadataMap map;
    ASSERT_TRUE(parse_common_properties(
        properties("<tree name=\"Log\"><e name=\"split\" description=\"part\" unit=\"n\" type=\"integer\" "
                   "ro=\"true\">3</e><e name=\"other\" ro=\"TRUE\">4</e><e name=\"plain\"/>"
                   "<e name=\"split\" unit=\"s\" ro=\"false\">9</e></tree>"),
        map));
    const MetadataEntry* split = map.find("root.Log.split");
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->name, "split");
    EXPECT_EQ(split->description, "part");
    EXPECT_EQ(split->unit, "n");
    EXPECT_EQ(split->type, "integer");
    EXPECT_EQ(split->value, "3");
    EXPECT_TRUE(split->read_only);
    ASSERT_NE(map.find("root.Log.other"), nullptr);
    EXPECT_FALSE(map.find("root.Log.other")->read_only);
    const MetadataEntry* plain = map.find("root.Log.plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->description, "");
    EXPECT_EQ(plain->value, "");
    EXPECT_FALSE(plain->read_only);
}

TEST(MetadataParse, MalformedXmlFails) {
    for (const char* xml : {"<root><common_properties><e name=\"a\">1</e>", "<root></wrong>", "", "not xml"}) {
        MetadataMap map;
        EXPECT_FALSE(parse_common_properties(xml, map)) << xml;
    }
}

// A logger file whose single channel group has the given source.
tools::FileSpec file_with_source(const tools::SourceSpec& source) {
    tools::FileSpec spec = tools::logger_file({"12345678", 7, 3, {}});
    tools::DataGroupSpec data_group;
    tools::ChannelGroupSpec group;
    group.acq_source = source;
    tools::ChannelSpec channel;
    channel.name = "Timestamp";
    channel.bit_count = 8;
    group.channels = {channel};
    data_group.groups = {group};
    spec.data_groups = {data_group};
    return spec;
}

TEST(MetadataHeader, LoggerIdentityComesFromTheHeaderComment) {
    OpenedImage opened = open_image(tools::write_mdf(tools::logger_file({"0000ABCD", 12, 4, {}})).bytes);
    ASSERT_NE(opened.file, nullptr);
    const MetadataMap map = read_header_metadata(*opened.file);
    EXPECT_EQ(entries_of(map), (std::vector<std::string>{"HDcomment.Device.serial number=0000ABCD",
                                                         "HDcomment.Log.session=12", "HDcomment.Log.split=4"}));
    EXPECT_EQ(map.find("HDcomment.Device.serial number")->name, "serial number");
    EXPECT_TRUE(map.find("HDcomment.Log.split")->read_only);
}

TEST(MetadataHeader, BusSourceCommentsAddTheirProperties) {
    const std::string source_xml =
        "<SIcomment><common_properties><e name=\"bit rate\">500000</e></common_properties></SIcomment>";
    struct Case {
        const char* label;
        tools::SourceSpec source;
        bool added;
    };
    const Case cases[] = {
        {"CAN bus", {"CAN1", tools::kSourceTypeBus, tools::kBusTypeCan, {source_xml}}, true},
        {"LIN bus", {"LIN1", tools::kSourceTypeBus, tools::kBusTypeLin, {source_xml}}, true},
        {"other bus", {"X", tools::kSourceTypeBus, 4, {source_xml}}, false},
        {"not a bus source", {"ECU", 1, tools::kBusTypeCan, {source_xml}}, false},
        {"comment in a TX block", {"CAN1", tools::kSourceTypeBus, tools::kBusTypeCan, {source_xml, true}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        OpenedImage opened = open_image(tools::write_mdf(file_with_source(c.source)).bytes);
        ASSERT_NE(opened.file, nullptr);
        const MetadataMap map = read_header_metadata(*opened.file);
        EXPECT_NE(map.find("HDcomment.Device.serial number"), nullptr);
        const MetadataEntry* bit_rate = map.find("SIcomment.bit rate");
        EXPECT_EQ(bit_rate != nullptr, c.added);
        if (bit_rate) {
            EXPECT_EQ(bit_rate->value, "500000");
        }
    }
}

TEST(MetadataHeader, HeaderEntriesWinOverSourceEntriesOfTheSameKey) {
    tools::SourceSpec source{"CAN1", tools::kSourceTypeBus, tools::kBusTypeCan,
                             {"<HDcomment><common_properties><tree name=\"Device\"><e name=\"serial number\">"
                              "FFFFFFFF</e></tree></common_properties></HDcomment>"}};
    OpenedImage opened = open_image(tools::write_mdf(file_with_source(source)).bytes);
    ASSERT_NE(opened.file, nullptr);
    const MetadataMap map = read_header_metadata(*opened.file);
    ASSERT_NE(map.find("HDcomment.Device.serial number"), nullptr);
    EXPECT_EQ(map.find("HDcomment.Device.serial number")->value, "12345678");
}

TEST(MetadataHeader, BrokenOrMissingXmlGivesAnEmptyMap) {
    struct Case {
        const char* label;
        std::string header_xml;
        bool header_as_tx;
        std::string source_xml;
    };
    const Case cases[] = {
        {"malformed header comment", "<HDcomment><common_properties>", false, ""},
        {"header comment in a TX block", tools::logger_properties_xml({}), true, ""},
        {"no header comment", "", false, ""},
        {"malformed bus source comment", tools::logger_properties_xml({}), false, "<SIcomment>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tools::FileSpec spec =
            file_with_source({"CAN1", tools::kSourceTypeBus, tools::kBusTypeCan, {c.source_xml}});
        spec.header.comment = {c.header_xml, c.header_as_tx};
        OpenedImage opened = open_image(tools::write_mdf(spec).bytes);
        ASSERT_NE(opened.file, nullptr);
        EXPECT_EQ(read_header_metadata(*opened.file).size(), 0u);
    }
}

}  // namespace
}  // namespace tracemill
