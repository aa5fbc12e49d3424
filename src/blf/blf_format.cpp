// The --blf-level option: how hard the binary log writer compresses.
#include "blf/blf_format.h"

#include <cstdio>

#include "blf/blf_writer.h"
#include "driver/option_kinds.h"

namespace tracemill {

namespace {

constexpr char kLong[] = "blf-level";
constexpr char kShown[] = "<0..9>";
constexpr int kRejected = 1;

int check_blf_level(const char* const* values, int count, void* destination) {
    if (count == 0) return 0;  // the default stays
    const int level = parse_blf_level(values[0]);
    if (level < 0) return kRejected;
    *static_cast<int*>(destination) = level;
    return 0;
}

void report_blf_level(FILE* out, int code, const CheckedOption& option, const char* progname) {
    if (code != kRejected) return;
    fprintf(out, "%s: invalid value \"%s\" to option ", progname, option.count > 0 ? option.values[0] : "");
    arg_print_option(out, nullptr, kLong, kShown, "\n");
}

}  // namespace

int parse_blf_level(std::string_view value) {
    if (value.size() != 1 || value[0] < '0' || value[0] > '9') return -1;
    return value[0] - '0';
}

bool BlfFormat::add_options(std::vector<void*>& table) {
    CheckedOption* option = validated_text_option(nullptr, kLong, kShown, 0, 1,
                                                  "zlib level of BLF output, 0 (stored) to 9 (smallest), defaults to 1",
                                                  check_blf_level, report_blf_level, &level_);
    if (option == nullptr) return false;
    table.push_back(option);
    return true;
}

std::unique_ptr<OutputSink> BlfFormat::new_sink(FileSystemRoot& output_root, bool durable) {
    return blf_writer_new(&output_root, level_, durable);
}

}  // namespace tracemill
