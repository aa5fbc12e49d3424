// Entry point of the tracemill command-line converter: the output formats a
// run can choose from are listed here, and interrupted runs clean up after
// themselves.
#include "asc/asc_format.h"
#include "blf/blf_format.h"
#include "csv/csv_format.h"
#include "driver/command_line.h"
#include "driver/format_choice.h"
#include "driver/temporary_files.h"
#include "log/candump_log_format.h"
#include "trc/trace_format.h"

int main(int argc, char** argv) {
    using namespace tracemill;
    remove_temporaries_on_interrupt();
    TraceFormat trace_files;
    AscFormat ascii_traces;
    BlfFormat binary_logs;
    CandumpLogFormat candump_logs;
    CsvFormat csv_tables;
    // -F names and their formats; the first is the default. One row per format.
    const NamedFormat formats[] = {
        {"trc", &trace_files},
        {AscFormat::kName, &ascii_traces},
        {BlfFormat::kName, &binary_logs},
        {CandumpLogFormat::kName, &candump_logs},
        {CsvFormat::kName, &csv_tables},
    };
    FormatChoice choice(formats);
    return run_tracemill(argc, argv, choice);
}
