// Block headers, links, chains, sharing and the guards against crafted files.
#include <gtest/gtest.h>

#include <cstring>

#include "block_test_support.h"
#include "mdf/block_reader.h"

namespace tracemill {
namespace {

using testing_support::captured_log;
using testing_support::channel_data;
using testing_support::RawFile;
using testing_support::stream_of;

std::vector<uint8_t> header_bytes(std::string_view first8, uint64_t length, uint64_t links) {
    std::vector<uint8_t> bytes(first8.begin(), first8.end());
    for (size_t i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (size_t i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(links >> (8 * i)));
    bytes.resize(64, 0);
    return bytes;
}

struct HeaderCase {
    const char* label;
    std::vector<uint8_t> bytes;
    std::optional<BlockKind> kind;
    uint64_t length;
    uint64_t link_count;
    const char* log;  // expected in the log; empty: nothing logged
};

TEST(BlockHeader, RecognisesKindsAndReportsOthers) {
    const HeaderCase cases[] = {
        {"finalised id", header_bytes("MDF     ", 999, 7), BlockKind::ID, 64, 0, ""},
        {"unfinalised id", header_bytes("UnFinMF ", 999, 7), BlockKind::ID, 64, 0, ""},
        {"reserved bytes ignored", header_bytes(std::string_view("##TX\x01\x02\x03\x04", 8), 40, 0),
         BlockKind::TX, 40, 0, ""},
        {"channel", header_bytes(std::string_view("##CN\0\0\0\0", 8), 160, 8), BlockKind::CN, 160, 8, ""},
        {"compressed data", header_bytes(std::string_view("##DZ\0\0\0\0", 8), 40, 0), std::nullopt, 0, 0,
         "Unable to load block header for type ##DZ\n"},
        {"id with a zero byte", header_bytes(std::string_view("MDF    \0", 8), 40, 0), std::nullopt, 0, 0,
         "Unable to load block header for type MDF    \n"},
        {"lower case", header_bytes(std::string_view("##tx\0\0\0\0", 8), 40, 0), std::nullopt, 0, 0,
         "Unable to load block header for type ##tx\n"},
        {"terminal control and high bytes are escaped", header_bytes(std::string_view("##\x1B[\xFF\0\0\0", 8), 40, 0),
         std::nullopt, 0, 0, "Unable to load block header for type ##\\x1B[\\xFF\n"},
        {"file ends inside the header", std::vector<uint8_t>(10, '#'), std::nullopt, 0, 0, ""},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.label);
        auto stream = stream_of(c.bytes);
        std::optional<BlockHeader> header;
        const std::string log = captured_log([&] { header = read_block_header(stream.get()); });
        ASSERT_EQ(header.has_value(), c.kind.has_value());
        if (c.kind) {
            EXPECT_EQ(header->kind, *c.kind);
            EXPECT_EQ(header->length, c.length);
            EXPECT_EQ(header->link_count, c.link_count);
            // The ID block is read from its start again.
            EXPECT_EQ(stream->tell(), *c.kind == BlockKind::ID ? 0 : 24);
        }
        if (*c.log) {
            EXPECT_NE(log.find(c.log), std::string::npos) << log;
        } else {
            EXPECT_EQ(log, "");
        }
    }
}

TEST(BlockLinks, ZeroBecomesNilAndShortSectionsFail) {
    RawFile file;
    const uint64_t at = file.add("##DG", {0, 4096, 0xFFFFFFFFFFFFFFFFull}, {});
    auto stream = stream_of(file.bytes);
    const BlockHeader header{BlockKind::DG, 48, 3};
    std::vector<uint64_t> links;
    ASSERT_EQ(stream->seek(static_cast<int64_t>(at + 24), kSeekSet), static_cast<int64_t>(at + 24));
    ASSERT_TRUE(read_links(stream.get(), header, links));
    EXPECT_EQ(links, (std::vector<uint64_t>{kNilLink, 4096, kNilLink}));

    std::vector<uint64_t> too_many;
    stream->seek(static_cast<int64_t>(at + 24), kSeekSet);
    EXPECT_FALSE(read_links(stream.get(), BlockHeader{BlockKind::DG, 48, 1000}, too_many));
}

// A CN chain of `count` channels; returns the offsets in chain order.
std::vector<uint64_t> add_channel_chain(RawFile& file, size_t count) {
    std::vector<uint64_t> offsets;
    for (size_t i = 0; i < count; ++i) {
        offsets.push_back(file.add("##CN", std::vector<uint64_t>(8, 0), channel_data(static_cast<uint32_t>(i))));
        if (i > 0) file.set_link(offsets[i - 1], 0, offsets[i]);
    }
    return offsets;
}

std::vector<uint64_t> offsets_of(const BlockList& list) {
    std::vector<uint64_t> offsets;
    for (const BlockRef& ref : list) offsets.push_back(ref->file_offset);
    return offsets;
}

TEST(BlockChain, ListEndsInChainOrder) {
    for (size_t count : {size_t{1}, size_t{3}, size_t{50000}}) {
        SCOPED_TRACE(count);
        RawFile file;
        const std::vector<uint64_t> chain = add_channel_chain(file, count);
        auto stream = stream_of(file.bytes);
        BlockCache cache(stream.get());
        BlockList list;
        ASSERT_TRUE(read_chain(stream.get(), chain.front(), cache, list));
        EXPECT_EQ(offsets_of(list), chain);
        EXPECT_EQ(block_as<CnBlock>(list.back())->byte_offset, count - 1);
    }
}

TEST(BlockSharing, BlockLinkedTwiceIsReadOnceAndOutlivesOneParent) {
    RawFile file;
    const uint64_t name = file.add("##TX", {}, {'i', 'd', 0, 0, 0, 0, 0, 0});
    std::vector<uint64_t> links(8, 0);
    links[2] = name;
    const uint64_t second = file.add("##CN", links, channel_data());
    links[0] = second;
    const uint64_t first = file.add("##CN", links, channel_data());
    auto stream = stream_of(file.bytes);

    BlockList list;
    {
        BlockCache cache(stream.get());
        ASSERT_TRUE(read_chain(stream.get(), first, cache, list));
    }
    ASSERT_EQ(list.size(), 2u);
    const BlockRef shared = block_as<CnBlock>(list[0])->name;
    ASSERT_NE(block_as<TxBlock>(shared), nullptr);
    EXPECT_EQ(block_as<CnBlock>(list[1])->name.get(), shared.get());
    EXPECT_EQ(shared.use_count(), 3);  // two channels and `shared`

    list.pop_back();
    EXPECT_EQ(shared.use_count(), 2);
    EXPECT_EQ(block_as<TxBlock>(shared)->text, "id");
}

TEST(BlockSharing, ChainThatJoinsAFinishedChainEndsThere) {
    RawFile file;
    const std::vector<uint64_t> chain = add_channel_chain(file, 3);
    auto stream = stream_of(file.bytes);
    BlockCache cache(stream.get());
    BlockList first, second;
    ASSERT_TRUE(read_chain(stream.get(), chain[0], cache, first));
    ASSERT_TRUE(read_chain(stream.get(), chain[1], cache, second));
    EXPECT_EQ(offsets_of(second), std::vector<uint64_t>{chain[1]});
    EXPECT_EQ(second[0].get(), first[1].get());
}

TEST(BlockSharing, LaterSiblingsAreFinishedFirstAndCanBeLinkedTo) {
    RawFile file;
    const std::vector<uint64_t> chain = add_channel_chain(file, 3);
    file.set_link(chain[0], 7, chain[2]);  // the first channel's comment
    auto stream = stream_of(file.bytes);
    BlockCache cache(stream.get());
    BlockList list;
    ASSERT_TRUE(read_chain(stream.get(), chain[0], cache, list));
    EXPECT_EQ(offsets_of(list), chain);
    EXPECT_EQ(block_as<CnBlock>(list[0])->comment.get(), list[2].get());
}

struct CycleCase {
    const char* label;
    // Adds blocks to `file`, returns {offset to read, offset the cycle is detected at}.
    std::pair<uint64_t, uint64_t> (*build)(RawFile& file);
};

TEST(BlockCycles, LoopingLinksFailWithAMessage) {
    const CycleCase cases[] = {
        {"chain member links to itself",
         [](RawFile& f) {
             const uint64_t cn = f.add("##CN", std::vector<uint64_t>(8, 0), channel_data());
             f.set_link(cn, 0, cn);
             return std::pair{cn, cn};
         }},
        {"chain loops back to its start",
         [](RawFile& f) {
             const std::vector<uint64_t> chain = add_channel_chain(f, 3);
             f.set_link(chain[2], 0, chain[0]);
             return std::pair{chain[0], chain[0]};
         }},
        {"name links to its own channel",
         [](RawFile& f) {
             const uint64_t cn = f.add("##CN", std::vector<uint64_t>(8, 0), channel_data());
             f.set_link(cn, 2, cn);
             return std::pair{cn, cn};
         }},
        {"composition member links back to its parent",
         [](RawFile& f) {
             const uint64_t member = f.add("##CN", std::vector<uint64_t>(8, 0), channel_data());
             const uint64_t parent = f.add("##CN", {0, member, 0, 0, 0, 0, 0, 0}, channel_data());
             f.set_link(member, 4, parent);
             return std::pair{parent, parent};
         }},
        {"later sibling's conversion links to an earlier sibling",
         [](RawFile& f) {
             const std::vector<uint64_t> chain = add_channel_chain(f, 3);
             f.set_link(chain[2], 4, chain[0]);
             return std::pair{chain[0], chain[0]};
         }},
    };
    for (const CycleCase& c : cases) {
        SCOPED_TRACE(c.label);
        RawFile file;
        const auto [start, detected] = c.build(file);
        auto stream = stream_of(file.bytes);
        BlockCache cache(stream.get());
        BlockRef block;
        const std::string log = captured_log([&] { block = read_block(stream.get(), start, cache, nullptr); });
        EXPECT_EQ(block, nullptr);
        EXPECT_NE(log.find("Link cycle detected at offset " + std::to_string(detected)), std::string::npos) << log;
    }
}

TEST(BlockGuards, DeepNestingFailsInsteadOfExhaustingTheStack) {
    RawFile file;
    uint64_t inner = 0;
    for (int depth = 0; depth < 5000; ++depth)
        inner = file.add("##CN", {0, inner, 0, 0, 0, 0, 0, 0}, channel_data());
    auto stream = stream_of(file.bytes);
    BlockCache cache(stream.get());
    BlockRef block;
    const std::string log = captured_log([&] { block = read_block(stream.get(), inner, cache, nullptr); });
    EXPECT_EQ(block, nullptr);
    EXPECT_NE(log.find("Blocks nested too deeply"), std::string::npos) << log;
}

TEST(BlockGuards, AbsurdLengthsFailWithoutAllocating) {
    struct Case {
        const char* label;
        const char* id;
        size_t links;
        uint64_t length;
        const char* log;
    };
    const Case cases[] = {
        {"channel shorter than its links", "##CN", 8, 24 + 8 * 8 - 1, "is shorter than its links"},
        {"text longer than the file", "##TX", 0, uint64_t{1} << 62, "extends beyond the end of the file"},
        {"text just past the end", "##TX", 0, 24 + 17, "extends beyond the end of the file"},
        {"text below its header", "##MD", 0, 23, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RawFile file;
        const uint64_t at = file.add(c.id, std::vector<uint64_t>(c.links, 0), std::vector<uint8_t>(16, 'x'), c.length);
        auto stream = stream_of(file.bytes);
        BlockCache cache(stream.get());
        BlockRef block;
        const std::string log = captured_log([&] { block = read_block(stream.get(), at, cache, nullptr); });
        EXPECT_EQ(block, nullptr);
        if (*c.log) {
            EXPECT_NE(log.find(c.log), std::string::npos) << log;
        }
    }
}

// CN_k converts through CC_k, whose inverse is CC_(k+1): a reference path as
// long as the chain, built without nesting any load (later chain members are
// finished first, so CC_(k+1) is already there when CN_k is finished).
TEST(BlockGraph, LongReferencePathsAreVisitedAndReleasedIteratively) {
    constexpr size_t kCount = 100000;
    RawFile file;
    std::vector<uint64_t> channels, conversions;
    for (size_t i = 0; i < kCount; ++i) {
        conversions.push_back(file.add("##CC", {0, 0, 0, 0}, std::vector<uint8_t>(24, 0)));
        channels.push_back(file.add("##CN", {0, 0, 0, 0, conversions[i], 0, 0, 0}, channel_data()));
        if (i == 0) continue;
        file.set_link(channels[i - 1], 0, channels[i]);
        file.set_link(conversions[i - 1], 3, conversions[i]);
    }
    auto stream = stream_of(file.bytes);
    BlockList list;
    {
        BlockCache cache(stream.get());
        ASSERT_TRUE(read_chain(stream.get(), channels[0], cache, list));
    }
    ASSERT_EQ(list.size(), kCount);
    EXPECT_EQ(block_as<CcBlock>(block_as<CnBlock>(list[0])->conversion)->inverse.get(), block_as<CnBlock>(list[1])->conversion.get());

    BlockSet set;
    for (const BlockRef& channel : list) visit_blocks(channel.get(), set);
    EXPECT_EQ(set.size(), 2 * kCount);
    EXPECT_EQ(set.blocks()[0], list[0].get());
    EXPECT_EQ(set.blocks()[1], block_as<CnBlock>(list[0])->conversion.get());

    // Dropping channels last to first leaves the whole path to the first one.
    std::weak_ptr<MdfBlock> first_cc = block_as<CnBlock>(list[0])->conversion;
    release_blocks(std::move(list));
    EXPECT_TRUE(first_cc.expired());
}

}  // namespace
}  // namespace tracemill
