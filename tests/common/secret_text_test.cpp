// Secret text leaves no copy of its bytes behind: not in the object a move
// came from, not in its own storage once destroyed.
#include "common/secret_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string_view>

namespace tracemill {
namespace {

// Any four bytes of the text: clearing a string only zeroes its first byte.
bool holds(const unsigned char* bytes, size_t size, std::string_view text) {
    const std::string_view tail = text.substr(text.size() - 4);
    return std::search(bytes, bytes + size, tail.begin(), tail.end()) != bytes + size;
}

TEST(SecretText, NoCopyLeftByMoveOrDestruction) {
    // Short texts live inside the object, where what is left behind can be looked at.
    alignas(SecretText) unsigned char from[sizeof(SecretText)];
    alignas(SecretText) unsigned char to[sizeof(SecretText)];
    auto* source = new (from) SecretText("pw-123");
    auto* target = new (to) SecretText(std::move(*source));
    EXPECT_EQ(target->view(), "pw-123");
    EXPECT_TRUE(source->view().empty());
    EXPECT_FALSE(holds(from, sizeof from, "pw-123"));

    *source = std::move(*target);
    EXPECT_EQ(source->view(), "pw-123");
    EXPECT_FALSE(holds(to, sizeof to, "pw-123"));

    source->~SecretText();
    target->~SecretText();
    EXPECT_FALSE(holds(from, sizeof from, "pw-123"));
}

}  // namespace
}  // namespace tracemill
