// The run: option table, help and version text, command-line errors, and the
// conversion from the first input to the last through the output format's sink.
#include "driver/command_line.h"

#include <argtable2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "driver/conversion_context.h"
#include "driver/output_sink.h"
#include "driver/input_walk.h"
#include "common/log.h"
#include "common/log_escape.h"
#include "driver/option_kinds.h"
#include "driver/password_store.h"
#include "driver/paths.h"
#include "driver/run_context.h"
#include "driver/version.h"

namespace tracemill {

namespace {

constexpr char kProgramName[] = "tracemill";
constexpr int kMaxParseErrors = 20;

// Exit statuses of the command line and of the set-up before the first file.
constexpr int kSetupFailed = 129;
constexpr int kMissingValue = 130;
constexpr int kBadValue = 131;
constexpr int kOptionError = 134;

// argtable's codes for an unmatched argument or a non-integer value, and for a missing value.
constexpr int kArgNoMatch = 3;
constexpr int kArgMissingValue = 5;

// The option table; entries are malloc'd by argtable and freed with it.
class OptionTable {
public:
    ~OptionTable() { arg_freetable(entries.data(), entries.size()); }
    void add(void* entry) { entries.push_back(entry); }
    bool complete() const { return std::find(entries.begin(), entries.end(), nullptr) == entries.end(); }
    void** data() { return entries.data(); }

    std::vector<void*> entries;
};

struct Rows {
    arg_lit* help;
    arg_lit* version;
    arg_int* verbosity;
    arg_lit* quiet;
    arg_lit* non_interactive;
    arg_lit* delete_converted;
    arg_lit* no_append_root;
    arg_int* buffer;
    struct arg_end* end;
};

// The exit statuses, as the README's table words them.
struct ExitStatusRow {
    int status;
    const char* meaning;
};
constexpr ExitStatusRow kExitStatusRows[] = {
    {0, "every input converted, passed over as not a log file, or skipped as a repeat; help or version printed"},
    {1, "an input does not exist, or the password file (named with -p, or an existing passwords.json) cannot be "
        "opened and read as a regular file"},
    {2, "no password for an encrypted file, or its decryption failed"},
    {4, "decompression failed"},
    {8, "any other conversion failure"},
    {kSetupFailed,
     "set-up failure: a path is neither file nor folder, or cannot be queried (its stat fails; the walk goes on with "
     "the next path and 129 is ORed in; at the top level the run stops); a folder inside the walk cannot be listed "
     "(named with the reason; the walk goes on); the folder holding the inputs cannot be opened (for example, it "
     "does not exist); the -O folder is not an existing folder (\"Invalid output path\"); the option table, run "
     "context or trace writer cannot be created"},
    {kMissingValue, "command-line error: an option lacks its value (nothing printed)"},
    {kBadValue, "command-line error: an argument that is not an integer where one is needed, an argument that "
                "matches nothing, or a verbosity outside 0..5 (nothing printed)"},
    {132, "the inputs do not share one parent folder, or an input lies directly in a file-system or drive root"},
    {kOptionError, "any other command-line error; the errors are printed on standard output"},
};

// Writes `text` in lines of at most `width` characters, broken at blanks,
// the lines after the first indented by `indent` blanks.
void print_wrapped(FILE* out, std::string_view text, size_t indent, size_t width) {
    size_t column = indent;
    bool first_word = true;
    while (!text.empty()) {
        const size_t end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!first_word && column + 1 + word.size() > width) {
            fprintf(out, "\n%*s", static_cast<int>(indent), "");
            column = indent;
        } else if (!first_word) {
            fputc(' ', out);
            ++column;
        }
        fwrite(word.data(), 1, word.size(), out);
        column += word.size();
        first_word = false;
    }
    fputc('\n', out);
}

void print_help(void** table) {
    fputs("Usage: tracemill", stdout);
    arg_print_syntaxv(stdout, table, "\n\n");
    arg_print_glossary(stdout, table, "  %-40s %s\n");
    fputs("\nExit status (the results of the inputs combine with OR, 1 + 4 = 5):\n", stdout);
    for (const ExitStatusRow& row : kExitStatusRows) {
        fprintf(stdout, "  %-4d ", row.status);
        print_wrapped(stdout, row.meaning, 7, 100);
    }
}

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

// An argument "--<option>=<value>" whose option takes no value.
struct ValueToFlag {
    const arg_hdr* row;
    const char* argument;
};

// Splits off the arguments "--<option>=<value>" whose option takes no value:
// argtable reports them under a meaningless name, so they are kept out of its
// parse and reported by report_values_to_flags. `rest` gets every other argument.
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

// Names each value given to an option without one, then argtable's own
// errors of the other arguments, whatever their kind.
void report_values_to_flags(const std::vector<ValueToFlag>& values_to_flags, int errors, struct arg_end* end) {
    for (const ValueToFlag& value : values_to_flags) {
        printf("%s: option ", kProgramName);
        arg_print_option(stdout, value.row->shortopts, std::string(long_name(*value.row)).c_str(), nullptr, "");
        printf(" takes no value: \"%s\"\n", value.argument);
    }
    if (errors > 0) arg_print_errors(stdout, end, kProgramName);
}

// --verbosity 0..5 → log threshold; 0 for a value outside that range.
int32_t threshold_for_verbosity(int verbosity) {
    switch (verbosity) {
        case 0: return kFatal;
        case 1: return kError;
        case 2: return kWarn;
        case 3: return kInfo;
        case 4:
        case 5: return kVerbose;
        default: return 0;
    }
}

// The first recorded error decides the status; only the kinds that print do so.
int report_parse_errors(struct arg_end* end) {
    const int code = end->error[0];
    if (code == kArgNoMatch) return kBadValue;
    if (code == kArgMissingValue) return kMissingValue;
    arg_print_errors(stdout, end, kProgramName);
    return kOptionError;
}

// An input named twice (after normalisation) is converted once, at its first place.
void drop_repeated_inputs(std::vector<std::string>& inputs) {
    std::vector<std::string> kept;
    kept.reserve(inputs.size());
    for (std::string& input : inputs) {
        if (std::find(kept.begin(), kept.end(), input) != kept.end()) {
            TM_LOG(kWarn, "Input %s is named more than once; it is converted once", escape_file_name(input).c_str());
            continue;
        }
        kept.push_back(std::move(input));
    }
    inputs = std::move(kept);
}

bool open_roots(RunContext& context, int& exit_status) {
    context.input_fs = local_root_new(context.input_root);
    if (!context.input_fs) {
        TM_LOG(kFatal, "Could not open input folder %s", escape_file_name(context.input_root).c_str());
        exit_status = kSetupFailed;
        return false;
    }
    if (context.output_dirs.size() == 1) {
        context.separate_output_fs = local_root_new(context.output_dirs.front());
        if (!context.separate_output_fs) {
            TM_LOG(kError, "Invalid output path: %s", escape_file_name(context.output_dirs.front()).c_str());
            exit_status = kSetupFailed;
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse_command_line(RunContext& context, OutputFormat& format, int argc, char** argv, int& exit_status) {
    OptionTable table;
    Rows rows{};
    table.add(rows.help = arg_lit0("h", "help", "display this help and exit"));
    table.add(rows.version = arg_lit0("v", "version", "display tool version and exit"));
    table.add(rows.verbosity = arg_int0(nullptr, "verbosity", "<n>",
                                        "verbosity of logging messages from 0 to 4, with 0 being fatal messages only 4 "
                                        "being all messages including debug information. defaults to 3"));
    table.add(rows.quiet = arg_lit0("q", "quiet", "log errors only, as --verbosity=1"));
    table.add(rows.non_interactive = arg_lit0(nullptr, "non-interactive", "does not print any progress output"));
    table.add(rows.delete_converted = arg_lit0("d", "delete-converted", "deletes files after conversion if specified"));
    table.add(rows.no_append_root = arg_lit0("X", "no-append-root", "do not add \"_out\" when converting folders"));
    table.add(rows.buffer = arg_int0("b", "buffer", "<n>", "buffer size in bytes. 0 disables and -1 takes entire file"));
    table.add(path_list_option("p", "password-file", nullptr, 0, 1,
                               "where to find device passwords for encrypted files, defaults to \"passwords.json\"",
                               &context.password_files));
    if (!format.add_options(table.entries)) {
        exit_status = kSetupFailed;
        return false;
    }
    table.add(path_list_option("O", "output-directory", nullptr, 0, 1, "where to place the converted files",
                               &context.output_dirs));
    table.add(arg_lit0("i", "input-files=<file(s)/folder(s)>", "list of input files/folders, must have common root"));
    table.add(path_list_option(nullptr, nullptr, "file(s)/folder(s)", 1, std::max(argc - 1, 1), nullptr,
                               &context.inputs));
    table.add(rows.end = arg_end(kMaxParseErrors));
    if (!table.complete()) {
        exit_status = kSetupFailed;
        return false;
    }

    std::vector<char*> rest;
    const std::vector<ValueToFlag> values_to_flags = split_off_values_to_flags(table.data(), argc, argv, rest);
    const int errors = arg_parse(static_cast<int>(rest.size()) - 1, rest.data(), table.data());
    if (rows.help->count > 0 || argc == 1) {
        print_help(table.data());
        return false;
    }
    if (rows.version->count > 0) {
        print_version(stdout);
        exit_status = 0;
        return false;
    }
    if (!values_to_flags.empty()) {
        report_values_to_flags(values_to_flags, errors, rows.end);
        exit_status = kOptionError;
        return false;
    }
    if (errors > 0) {
        exit_status = report_parse_errors(rows.end);
        return false;
    }
    // An explicit --verbosity wins over -q.
    const int32_t threshold = rows.verbosity->count > 0 ? threshold_for_verbosity(rows.verbosity->ival[0])
                              : rows.quiet->count > 0   ? kError
                                                        : kInfo;
    if (threshold == 0) {
        exit_status = kBadValue;
        return false;
    }
    set_log_threshold(threshold);

    RunOptions& options = context.options;
    options.delete_converted = rows.delete_converted->count == 1;
    options.no_append_root = rows.no_append_root->count == 1;
    options.non_interactive = rows.non_interactive->count == 1;
    options.buffer_size = rows.buffer->count == 1 ? int64_t{rows.buffer->ival[0]} : -1;

    drop_repeated_inputs(context.inputs);
    if (!load_password_store(context, exit_status)) return false;
    TM_LOG(kInfo, "%ld password(s) loaded", static_cast<long>(options.passwords.size()));
    if (!find_input_root(context, exit_status)) return false;
    return open_roots(context, exit_status);
}

namespace {

int run(int argc, char** argv, OutputFormat& format) {
    int exit_status = 0;
    auto context = std::make_unique<RunContext>();
    if (!parse_command_line(*context, format, argc, argv, exit_status)) return exit_status;

    // Syncing every output costs several times the conversion of a small
    // file; it is needed only before an input is deleted.
    std::unique_ptr<OutputSink> sink = format.new_sink(*context->output_fs(), context->options.delete_converted);
    if (!sink) {
        TM_LOG(kFatal, "Could not create the trace writer");
        return kSetupFailed;
    }
    ConversionContext conversion{context->input_fs.get(), context->output_fs(), true, &context->options,
                                 sink.get(), FileInfo{}};
    exit_status = convert_inputs(conversion, context->inputs);
    // The writer borrows the output root, so it goes before the context that owns it.
    sink.reset();
    context.reset();
    return exit_status;
}

}  // namespace

int run_tracemill(int argc, char** argv, OutputFormat& format) {
    try {
        return run(argc, argv, format);
    } catch (const std::bad_alloc&) {
        TM_LOG(kFatal, "Out of memory");
        return kSetupFailed;
    }
}

}  // namespace tracemill
