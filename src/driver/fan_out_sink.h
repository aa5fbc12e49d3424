// One sink feeding several: every record goes to each of them, and the
// outcome of an input is what they did together.
#pragma once

#include <memory>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

class FanOutSink final : public OutputSink {
public:
    explicit FanOutSink(std::vector<std::unique_ptr<OutputSink>> sinks) : sinks_(std::move(sinks)) {}

    // Each call reaches every sink, even after one failed, so that each ends
    // its file cleanly; the call fails when any sink's did.
    bool record(const BusRecord& record) override;
    bool new_file(const FileInfo& info, bool continuation) override;
    bool end_file(const FileInfo& info) override;
    // Passed over: per kind, the records no sink held (the fewest any sink
    // passed over). Written: per kind, the most any sink wrote. Every published
    // file is listed; output_path is the first, bytes_written their sum, and
    // the whole is durable only when every part is.
    FileOutcome outcome() const override;

private:
    std::vector<std::unique_ptr<OutputSink>> sinks_;
};

}  // namespace tracemill
