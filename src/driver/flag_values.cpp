// Finding values given to options that take none, before argtable parses.
#include "driver/flag_values.h"

#include <string>
#include <string_view>

namespace tracemill {
namespace {

// The long name of an option row: its long option text up to a "=" (the -i row
// carries its syntax there).
std::string_view long_name(const arg_hdr& row) {
    if (row.longopts == nullptr) return {};
    const std::string_view text = row.longopts;
    return text.substr(0, text.find('='));
}

// The row that "--<name>" names, as getopt finds it: the exact long name or
// its only abbreviation; none otherwise.
const arg_hdr* row_named(void** table, std::string_view name) {
    const arg_hdr* abbreviated = nullptr;
    int abbreviations = 0;
    for (size_t i = 0; !(static_cast<arg_hdr*>(table[i])->flag & ARG_TERMINATOR); ++i) {
        const arg_hdr* row = static_cast<arg_hdr*>(table[i]);
        const std::string_view row_name = long_name(*row);
        if (row_name.empty()) continue;
        if (row_name == name) return row;
        if (row_name.starts_with(name)) {
            abbreviated = row;
            ++abbreviations;
        }
    }
    return abbreviations == 1 ? abbreviated : nullptr;
}

}  // namespace

std::vector<ValueToFlag> split_off_values_to_flags(void** table, int argc, char** argv, std::vector<char*>& rest) {
    std::vector<ValueToFlag> found;
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") options_ended = true;
        const size_t equals = argument.find('=');
        if (i > 0 && !options_ended && argument.starts_with("--") && equals != std::string_view::npos) {
            const arg_hdr* row = row_named(table, argument.substr(2, equals - 2));
            if (row != nullptr && !(row->flag & (ARG_HASVALUE | ARG_HASOPTVALUE))) {
                found.push_back({row, argv[i]});
                continue;
            }
        }
        rest.push_back(argv[i]);
    }
    rest.push_back(nullptr);
    return found;
}

void report_values_to_flags(FILE* out, const char* program, const std::vector<ValueToFlag>& values_to_flags) {
    for (const ValueToFlag& value : values_to_flags) {
        fprintf(out, "%s: option ", program);
        arg_print_option(out, value.row->shortopts, std::string(long_name(*value.row)).c_str(), nullptr, "");
        fprintf(out, " takes no value: \"%s\"\n", value.argument);
    }
}

}  // namespace tracemill
