// TX and MD blocks: how the data section becomes the text.
#include <gtest/gtest.h>

#include "block_test_support.h"
#include "mdf/block_reader.h"

namespace tracemill {
namespace {

using testing_support::RawFile;
using testing_support::stream_of;

TEST(BlockText, FillZerosAreCutUnlessTheTextStartsWithOne) {
    struct Case {
        const char* label;
        const char* id;
        std::string data;
        std::string text;
    };
    const Case cases[] = {
        {"letters then zeros", "##TX", std::string("abc") + std::string(13, '\0'), "abc"},
        {"all zeros", "##TX", std::string(16, '\0'), std::string(16, '\0')},
        {"zero first, letters later", "##MD", std::string("\0ab\0", 4), std::string("\0ab\0", 4)},
        {"no zero at all", "##MD", "<a>x</a>", "<a>x</a>"},
        {"cut at the first of several zeros", "##TX", std::string("ab\0cd\0\0\0", 8), "ab"},
        {"empty data section", "##TX", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RawFile file;
        const uint64_t at = file.add(c.id, {}, std::vector<uint8_t>(c.data.begin(), c.data.end()));
        auto stream = stream_of(file.bytes);
        BlockCache cache(stream.get());
        BlockRef block = read_block(stream.get(), at, cache, nullptr);
        const TextBlock* text = std::string_view(c.id) == "##TX" ? static_cast<const TextBlock*>(block_as<TxBlock>(block))
                                                                 : block_as<MdBlock>(block);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->text, c.text);
        EXPECT_EQ(text->header.length, 24 + c.data.size());
    }
}

}  // namespace
}  // namespace tracemill
