// Option handling shared by the command-line tools: number parsing, and an
// option table that is freed on every path and answers help, errors and
// allocation failure the same way.
#pragma once

#include <argtable2.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <optional>

namespace tracemill::tools {

// A whole decimal number without sign; false for anything else.
inline bool parse_u64(const char* text, uint64_t& value) {
    if (!text || !*text || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno || *end) return false;
    value = parsed;
    return true;
}

class ToolOptionTable {
public:
    ToolOptionTable(void** entries, size_t count) : entries_(entries), count_(count) {}
    ~ToolOptionTable() { arg_freetable(entries_, count_); }
    ToolOptionTable(const ToolOptionTable&) = delete;
    ToolOptionTable& operator=(const ToolOptionTable&) = delete;

    // The exit status when the tool must stop now (help printed: 0, command-line
    // errors: 1, out of memory: 2); nothing when it should go on.
    std::optional<int> parse(const char* tool, int argc, char** argv, const struct arg_lit* help, struct arg_end* end,
                             const char* glossary_format) {
        if (arg_nullcheck(entries_) != 0) {
            std::fprintf(stderr, "%s: out of memory\n", tool);
            return 2;
        }
        const int errors = arg_parse(argc, argv, entries_);
        if (help->count > 0) {
            std::printf("Usage: %s", tool);
            arg_print_syntax(stdout, entries_, "\n");
            arg_print_glossary(stdout, entries_, glossary_format);
            return 0;
        }
        if (errors > 0) {
            arg_print_errors(stdout, end, tool);
            return 1;
        }
        return std::nullopt;
    }

private:
    void** entries_;
    size_t count_;
};

}  // namespace tracemill::tools
