// The -f/--trace-format option: which trace file version the writer produces.
#include "trc/trace_format.h"

#include <cstdio>
#include <new>

#include "common/log.h"
#include "driver/option_kinds.h"
#include "trc/trc_line_format.h"
#include "trc/trc_writer.h"

namespace tracemill {

namespace {

constexpr char kShort[] = "f";
constexpr char kLong[] = "trace-format";
constexpr char kShown[] = "{version1,version2}";
constexpr int kRejected = 1;

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

int check_trace_format(const char* const* values, int count, void* destination) {
    const uint32_t version = count == 0 ? 2 : parse_trace_format(values[0]);
    if (version == 0) return kRejected;
    *static_cast<uint32_t*>(destination) = version;
    return 0;
}

void report_trace_format(FILE* out, int code, const CheckedOption& option, const char* progname) {
    if (code != kRejected) return;
    fprintf(out, "%s: invalid value \"%s\" to option ", progname, option.count > 0 ? option.values[0] : "");
    arg_print_option(out, kShort, kLong, kShown, "\n");
}

}  // namespace

uint32_t parse_trace_format(std::string_view value) {
    if (equals_ignoring_case(value, "version1")) return 1;
    if (equals_ignoring_case(value, "version2")) return 2;
    return 0;
}

bool TraceFormat::add_options(std::vector<void*>& table) {
    CheckedOption* option = validated_text_option(kShort, kLong, kShown, 0, 1,
                                                  "which trace version to output, defaults to 2.1",
                                                  check_trace_format, report_trace_format, &version_);
    if (option == nullptr) return false;
    table.push_back(option);
    reserved_column_row_ = arg_lit0(nullptr, "reserved-column",
                                    "add the reserved column \"R\" to TRC 2.1 lines, for readers that require it");
    if (reserved_column_row_ == nullptr) return false;
    table.push_back(reserved_column_row_);
    return true;
}

void TraceFormat::take_options() {
    reserved_column_ = reserved_column_row_ != nullptr && reserved_column_row_->count > 0;
    reserved_column_row_ = nullptr;
}

std::unique_ptr<OutputSink> TraceFormat::new_sink(FileSystemRoot& output_root, bool durable) {
    // TRC 1.1 has no reserved column: scripts may pass the option for either version.
    if (reserved_column_ && version_ == kTraceVersion11)
        TM_LOG(kWarn, "--reserved-column changes nothing in TRC 1.1 output, which has no reserved column");
    return trc_writer_new(&output_root, version_, durable, reserved_column_);
}

}  // namespace tracemill
