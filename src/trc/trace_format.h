// Trace files as an output format: the -f/--trace-format option and the
// trace writer it configures.
#pragma once

#include <argtable2.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

// 1 for "version1", 2 for "version2" (any letter case), 0 for anything else.
uint32_t parse_trace_format(std::string_view value);

class TraceFormat final : public OutputFormat {
public:
    // The -f row, whose check stores the chosen version (2 without a value)
    // and rejects any other value, and the --reserved-column row.
    bool add_options(std::vector<void*>& table) override;
    void take_options() override;
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;
    uint32_t version() const { return version_; }

private:
    uint32_t version_ = 2;
    arg_lit* reserved_column_row_ = nullptr;  // owned by the option table, valid until take_options
    bool reserved_column_ = false;
};

}  // namespace tracemill
