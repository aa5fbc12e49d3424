// A payload points at its first piece and owns what it gathers or is copied
// into: the bytes it gives stay right when the pieces' bytes change or go.
#include "mdf/bus_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tracemill {
namespace {

// Steps on a payload: 'a' appends the next piece of the source, 'c' cuts to
// two bytes, 'f' fills with three zeros, 'x' clears.
struct Case {
    const char* steps;
    std::vector<uint8_t> expected;
    bool points_at_source;  // the bytes are the source's own, not a copy
};

TEST(Payload, GivesItsPiecesAndOwnsWhatItGathers) {
    const Case cases[] = {
        {"a", {1, 2, 3}, true},
        {"aa", {1, 2, 3, 4, 5, 6}, false},
        {"aca", {1, 2, 4, 5, 6}, false},
        {"aaca", {1, 2, 7, 8, 9}, false},
        {"ac", {1, 2}, true},
        {"f", {0, 0, 0}, false},
        {"fa", {0, 0, 0, 1, 2, 3}, false},
        {"axa", {4, 5, 6}, true},
        {"aax", {}, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> source = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        Payload payload;
        size_t next = 0;
        for (const char* step = c.steps; *step; ++step) {
            if (*step == 'a') payload.append(source.data() + 3 * next++, 3);
            if (*step == 'c') payload.cut(2);
            if (*step == 'f') payload.fill(3, 0);
            if (*step == 'x') payload.clear();
        }
        EXPECT_EQ(payload, c.expected) << c.steps;
        const bool points_at_source = !payload.empty() && payload.data() >= source.data() &&
                                      payload.data() < source.data() + source.size();
        EXPECT_EQ(points_at_source, c.points_at_source) << c.steps;

        // Copies own their bytes; a move keeps them where they are.
        const Payload copy = payload;
        const Payload moved = std::move(payload);
        EXPECT_EQ(moved, c.expected) << c.steps;
        EXPECT_TRUE(payload.empty()) << c.steps;
        source.assign(source.size(), 0xEE);
        EXPECT_EQ(copy, c.expected) << c.steps;
    }
}

}  // namespace
}  // namespace tracemill
