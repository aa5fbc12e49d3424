// Binary logs as an output format: the --blf-level option and the writer it configures.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

// The zlib level in `value` ("0" to "9"); -1 for anything else.
int parse_blf_level(std::string_view value);

class BlfFormat final : public OutputFormat {
public:
    static constexpr const char* kName = "blf";
    static constexpr int kDefaultLevel = 1;

    // The --blf-level row, whose check stores the level and rejects any other value.
    bool add_options(std::vector<void*>& table) override;
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;
    int level() const { return level_; }

private:
    int level_ = kDefaultLevel;
};

}  // namespace tracemill
