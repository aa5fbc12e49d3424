// Recognising the container header and reading its fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "streams/buffered_stream.h"
#include "streams/container_header.h"
#include "streams/memory_stream.h"
#include "streams/stream_test_support.h"

namespace tracemill {
namespace {

using testing_support::TempFile;

const std::vector<uint8_t> kExampleHeader = {0x47, 0x65, 0x6E, 0x65, 0x72, 0x69, 0x63, 0x20, 0x46, 0x69,
                                             0x6C, 0x65, 0x01, 0x01, 0x22, 0x01, 0x00, 0x00, 0x12, 0x34};

TEST(ContainerHeader, ReadsEveryFieldOfTheExampleHeader) {
    std::vector<uint8_t> file = kExampleHeader;
    file.insert(file.end(), 40, 0xAB);  // a body behind it
    TempFile disk(file);
    StreamPtr stream = open_buffered_stream(open_file_stream(disk.path(), kFileRead), 16);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(stream_seek(stream.get(), 33, kSeekSet), 33);  // the test looks at the start, wherever we are

    ContainerHeader header;
    ASSERT_TRUE(read_container_header(stream.get(), header));
    EXPECT_EQ(std::string(header.magic, sizeof header.magic), "Generic File");
    EXPECT_EQ(header.check_flag, 1);
    EXPECT_EQ(header.footer_flag, 1);
    EXPECT_EQ(header.container_type, kContainerCompressed);
    EXPECT_EQ(header.format_version, 1);
    EXPECT_EQ(header.device_id, 0x00001234u);
}

TEST(ContainerHeader, FieldOrderOnDisk) {
    // Distinct values in every position show a swapped field at once.
    std::vector<uint8_t> bytes(kExampleHeader.begin(), kExampleHeader.begin() + 12);
    bytes.insert(bytes.end(), {0x00, 0x01, 0x11, 0x07, 0xDE, 0xAD, 0xBE, 0xEF});
    auto stream = memory_stream_from(bytes.data(), bytes.size());
    ContainerHeader header;
    ASSERT_TRUE(read_container_header(stream.get(), header));
    EXPECT_EQ(header.check_flag, 0);
    EXPECT_EQ(header.footer_flag, 1);
    EXPECT_EQ(header.container_type, kContainerEncrypted);
    EXPECT_EQ(header.format_version, 7);
    EXPECT_EQ(header.device_id, 0xDEADBEEFu);
}

TEST(ContainerHeader, StreamsThatAreNotContainers) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> lower = kExampleHeader;
    std::memcpy(lower.data(), "generic file", 12);
    std::vector<uint8_t> almost = kExampleHeader;
    almost[11] = 'E';
    const Case cases[] = {
        {"empty", {}},
        {"19 bytes", std::vector<uint8_t>(kExampleHeader.begin(), kExampleHeader.end() - 1)},
        {"lower-case magic", lower},
        {"last magic letter differs", almost},
        {"MDF4 file start", std::vector<uint8_t>{'M', 'D', 'F', ' ', ' ', ' ', ' ', ' ', '4', '.', '1', '0',
                                                 ' ', ' ', ' ', ' ', 'x', 'x', 'x', 'x', 'x', 'x'}},
    };
    for (const Case& c : cases) {
        auto stream = memory_stream_from(c.bytes.data(), c.bytes.size());
        ContainerHeader header;
        EXPECT_FALSE(read_container_header(stream.get(), header)) << c.name;
    }
    ContainerHeader header;
    EXPECT_FALSE(read_container_header(nullptr, header));
}

TEST(ContainerHeader, ShortHeaderIsFilledAsFarAsItGoes) {
    const std::vector<uint8_t> bytes(kExampleHeader.begin(), kExampleHeader.end() - 1);
    auto stream = memory_stream_from(bytes.data(), bytes.size());
    ContainerHeader header;
    ASSERT_FALSE(read_container_header(stream.get(), header));
    EXPECT_EQ(std::string(header.magic, sizeof header.magic), "Generic File");
    EXPECT_EQ(header.container_type, kContainerCompressed);
    EXPECT_EQ(header.format_version, 1);
    EXPECT_EQ(header.device_id, 0u);
}

}  // namespace
}  // namespace tracemill
