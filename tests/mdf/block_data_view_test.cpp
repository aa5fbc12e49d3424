// The read-only stream view on DT and SD data sections, through a stream held
// in memory (direct bytes) and through one that is not.
#include <gtest/gtest.h>

#include "block_test_support.h"
#include "mdf/block_reader.h"
#include "streams/buffered_stream.h"

namespace tracemill {
namespace {

using testing_support::RawFile;
using testing_support::stream_of;

// A DT block of `data_size` bytes 0, 1, 2, ... followed by a trailing block,
// so reads past the data section would see other bytes. `length` overrides.
struct DataFixture {
    explicit DataFixture(uint64_t data_size, uint64_t length = 0) {
        std::vector<uint8_t> data(data_size);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
        offset = file.add("##DT", {}, data, length);
        if (!length || length <= 24 + data_size) file.add("##TX", {}, {'t', 'a', 'i', 'l', 0, 0, 0, 0});
        memory = stream_of(file.bytes);
    }

    // Loads the block through the memory stream itself or through a window
    // in front of it, which offers no direct bytes.
    DataBlock* load(bool direct) {
        ByteStream* source = memory.get();
        if (!direct) {
            window = BufferedStream::borrowing(memory.get(), 64);
            source = window.get();
        }
        cache = std::make_unique<BlockCache>(source);
        block = read_block(source, offset, *cache, nullptr);
        return block_as<DtBlock>(block);
    }

    RawFile file;
    uint64_t offset = 0;
    std::unique_ptr<MemoryStream> memory;
    std::unique_ptr<BufferedStream> window;
    std::unique_ptr<BlockCache> cache;
    BlockRef block;
};

class DataView : public ::testing::TestWithParam<bool> {};

TEST_P(DataView, ReadsStayInsideTheDataSection) {
    DataFixture fixture(300);
    DataBlock* data = fixture.load(GetParam());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->direct_data() != nullptr, GetParam());
    EXPECT_EQ(data->data_size(), 300u);

    uint8_t buffer[512];
    ASSERT_EQ(data->seek(290, kSeekSet), 290);
    EXPECT_EQ(data->read(buffer, sizeof buffer), 10);
    EXPECT_EQ(buffer[0], 290 % 256);
    EXPECT_EQ(buffer[9], 299 % 256);
    EXPECT_EQ(data->tell(), 300);
    EXPECT_EQ(data->read(buffer, sizeof buffer), 0);

    // Reading in pieces gives the bytes in order, whatever else was read between.
    ASSERT_EQ(data->seek(0, kSeekSet), 0);
    for (int i = 0; i < 100; ++i) {
        uint8_t byte = 0xEE;
        ASSERT_EQ(data->read(&byte, 1), 1);
        ASSERT_EQ(byte, i);
        uint8_t other[8];
        stream_read(fixture.memory.get(), other, sizeof other);
    }
}

TEST_P(DataView, SeeksAreLimitedToTheDataSection) {
    DataFixture fixture(1000);
    DataBlock* data = fixture.load(GetParam());
    ASSERT_NE(data, nullptr);
    struct Case {
        int64_t offset;
        int32_t whence;
        int64_t expected;
    };
    const Case cases[] = {
        {5000, kSeekSet, 1000}, {-7, kSeekEnd, 1000}, {12345, kSeekEnd, 1000}, {400, kSeekSet, 400},
        {50, kSeekCur, 450},    {-450, kSeekCur, 0},  {-1, kSeekCur, -1},      {INT64_MAX, kSeekCur, 1000},
        {-5, kSeekSet, -1},     {30, 9, 0},
    };
    for (const Case& c : cases) {
        const int64_t before = data->tell();
        const int64_t result = data->seek(c.offset, c.whence);
        EXPECT_EQ(result, c.expected) << c.offset << " from " << c.whence;
        EXPECT_EQ(data->tell(), result < 0 ? before : result);
    }
}

TEST_P(DataView, ShortAndOverlongLengths) {
    uint8_t buffer[64];
    {
        DataFixture fixture(0, 24);
        DataBlock* empty = fixture.load(GetParam());
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->data_size(), 0u);
        EXPECT_EQ(empty->read(buffer, sizeof buffer), 0);
    }
    {
        // A length that claims more than the file holds delivers what is there.
        DataFixture fixture(16, 1u << 30);
        DataBlock* overlong = fixture.load(GetParam());
        ASSERT_NE(overlong, nullptr);
        EXPECT_EQ(overlong->data_size(), (1u << 30) - 24);
        EXPECT_EQ(overlong->read(buffer, sizeof buffer), 16);
        if (GetParam()) {
            EXPECT_EQ(overlong->direct_size(), 16u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, DataView, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "InMemory" : "ThroughStream";
                         });

TEST(DataBlockLoad, IgnoresTheDeclaredLinkCount) {
    RawFile file;
    const uint64_t at = file.add("##SD", {}, {1, 2, 3, 4}, 0, 5);
    auto stream = stream_of(file.bytes);
    BlockCache cache(stream.get());
    BlockRef block = read_block(stream.get(), at, cache, nullptr);
    DataBlock* signal = block_as<SdBlock>(block);
    ASSERT_NE(signal, nullptr);
    EXPECT_EQ(signal->header.link_count, 0u);
    EXPECT_EQ(signal->data_start, at + 24);
    EXPECT_EQ(block_as<DtBlock>(block), nullptr);
}

}  // namespace
}  // namespace tracemill
