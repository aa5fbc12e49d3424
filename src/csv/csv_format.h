// CSV tables as an output format ("-F csv"): one ".csv" file per input with a
// header row and a row for every record, CAN and LIN alike (see csv_row.h).
#pragma once

#include <memory>
#include <vector>

#include "driver/output_sink.h"

namespace tracemill {

class CsvFormat final : public OutputFormat {
public:
    static constexpr const char* kName = "csv";

    bool add_options(std::vector<void*>& /*table*/) override { return true; }
    std::unique_ptr<OutputSink> new_sink(FileSystemRoot& output_root, bool durable) override;
};

// The sink on its own: the table of an input is its output stem + ".csv"
// under `output_root`, published only when a record row was written into it;
// `durable`: each table and its folder are synced when published.
std::unique_ptr<OutputSink> csv_writer_new(FileSystemRoot& output_root, bool durable);

}  // namespace tracemill
