// ASCII traces as an output format: no options of their own, and the writer.
#pragma once

#include <memory>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

class AscFormat final : public OutputFormat {
public:
    static constexpr const char* kName = "asc";

    bool add_options(std::vector<void*>& /*table*/) override { return true; }
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;
};

}  // namespace tracemill
