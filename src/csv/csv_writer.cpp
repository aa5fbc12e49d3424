// The CSV writer: the header row before the first record, then one row per
// record in the order they come. Every record kind has a row: nothing is
// passed over.
#include <new>

#include "common/log.h"
#include "csv/csv_format.h"
#include "csv/csv_row.h"
#include "driver/output_file.h"

namespace tracemill {
namespace {

constexpr OutputFileMessages kCsvFileMessages{
    "Could not open output file for the CSV table: %s",
    "Could not close CSV file",
    "Could not remove CSV file",
};

class CsvWriter final : public OutputSink {
public:
    CsvWriter(FileSystemRoot& output_root, bool durable) : file_(output_root, kCsvFileMessages, durable) {}

    bool new_file(const FileInfo& info, bool /*continuation*/) override {
        // Every input gets a table of its own, continuation or not, like its trace.
        rows_ = 0;
        written_ = {};
        return file_.begin(info.output_stem + ".csv", info.encrypted ? kPrivateFileMode : kSharedFileMode);
    }

    bool record(const BusRecord& record) override {
        if (rows_ == 0 && !file_.write(kCsvHeader.data(), kCsvHeader.size())) {
            TM_LOG(kError, "Could not write CSV header");
            return false;
        }
        char* row = file_.room(csv_row_capacity(record.data.size()));
        if (row == nullptr) {
            TM_LOG(kError, "Could not write CSV data");
            return false;
        }
        file_.added(rows_writer_.format(row, record));
        ++rows_;
        written_.count(record);
        return true;
    }

    bool end_file(const FileInfo& /*info*/) override { return file_.finish(rows_ > 0); }

    FileOutcome outcome() const override { return file_.outcome({}, written_); }

private:
    OutputFile file_;
    uint64_t rows_ = 0;
    WrittenFrames written_;
    CsvRowWriter rows_writer_;
};

}  // namespace

std::unique_ptr<OutputSink> csv_writer_new(FileSystemRoot& output_root, bool durable) {
    return std::unique_ptr<OutputSink>(new (std::nothrow) CsvWriter(output_root, durable));
}

std::unique_ptr<OutputSink> CsvFormat::new_sink(FileSystemRoot& output_root, bool durable) {
    return csv_writer_new(output_root, durable);
}

}  // namespace tracemill
