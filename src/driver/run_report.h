// The run report asked for with --report: JSON Lines, one object per file the
// walk reached, in walk order, then one object with the run's totals and its
// exit status. Every string in it is valid UTF-8 (see escape_invalid_utf8).
#pragma once

#include <memory>
#include <string>

#include "driver/file_result.h"
#include "driver/file_system_root.h"
#include "driver/run_summary.h"

namespace tracemill {

class RunReport final : public FileObserver {
public:
    // Creates (or empties) the report file at `path`, never through a symbolic
    // link; "-" is standard output. Paths in the report are full paths under
    // the roots. None (logged) when the file cannot be created.
    static std::unique_ptr<RunReport> open(const std::string& path, const FileSystemRoot& input_root,
                                           const FileSystemRoot& output_root);
    ~RunReport() override;
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    void file_done(const FileResult& result) override;
    // Writes the final object and closes the report; false (logged) when any write failed.
    bool finish(const RunTotals& totals, double seconds, int exit_status);

private:
    RunReport(int fd, std::string path, const FileSystemRoot& input_root, const FileSystemRoot& output_root);
    void write_line(std::string line);

    int fd_;
    std::string path_;
    const FileSystemRoot& input_root_;
    const FileSystemRoot& output_root_;
    bool failed_ = false;
};

}  // namespace tracemill
