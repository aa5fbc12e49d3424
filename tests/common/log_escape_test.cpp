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

}  // namespace
}  // namespace tracemill
