// The totals of a run and the lines that end it: one with the totals, then
// one per failed or kept file with its reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/file_result.h"

namespace tracemill {

struct RunTotals {
    uint64_t converted = 0;
    uint64_t failed = 0;
    uint64_t passed_over = 0;  // not log files
    uint64_t repeated = 0;
    uint64_t deleted = 0;
    uint64_t kept = 0;         // converted, but kept under -d
    uint64_t outputs = 0;      // files published, one per input and format written
    WrittenFrames frames;
    PassedOverRecords records_passed_over;
    uint64_t bytes_read = 0;
    uint64_t bytes_written = 0;
};

class RunSummary final : public FileObserver {
public:
    void file_done(const FileResult& result) override;
    const RunTotals& totals() const { return totals_; }
    // Logs the totals line and the notes at kInfo; `seconds` is the run's time.
    void log(double seconds) const;

private:
    RunTotals totals_;
    bool several_outputs_ = false;    // some input got more than one file (several formats)
    std::vector<std::string> notes_;  // "Failed: <file>: <reason>", "Kept: <file>: <reasons>"
};

// "a; b; c"
std::string joined_reasons(const std::vector<std::string>& reasons);

}  // namespace tracemill
