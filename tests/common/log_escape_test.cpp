#include "common/log_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace tracemill {
namespace {

TEST(LogEscape, ControlAndHighBytes) {
    struct Case {
        std::string in, as_text, as_name;
    };
    const Case cases[] = {
        {"plain ##DG", "plain ##DG", "plain ##DG"},
        {std::string("\x1b[2J\0x", 6), "\\x1B[2J\\x00x", "\\x1B[2J\\x00x"},
        {"tab\there\x7f", "tab\\x09here\\x7F", "tab\\x09here\\x7F"},
        {"caf\xC3\xA9", "caf\\xC3\\xA9", "caf\xC3\xA9"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escape_file_text(c.in), c.as_text);
        EXPECT_EQ(escape_file_name(c.in), c.as_name);
    }
}

TEST(LogEscape, InvalidUtf8BytesOnly) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"tab\there", "tab\there"},                       // control characters are the JSON writer's
        {"\xFF\x80" "a", "\\xFF\\x80a"},                 // no lead byte, stray continuation
        {"\xC3(", "\\xC3("},                              // cut short
        {"\xC0\xAF", "\\xC0\\xAF"},                      // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},              // surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},      // beyond U+10FFFF
        {"\xE2\x82", "\\xE2\\x82"},                      // at the end
    };
    for (const Case& c : cases) EXPECT_EQ(escape_invalid_utf8(c.in), c.out) << c.out;
}

}  // namespace
}  // namespace tracemill
