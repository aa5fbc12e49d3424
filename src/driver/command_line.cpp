// The run: option table, help and version text, command-line errors, and the
// conversion from the first input to the last through the output format's sink.
#include "driver/command_line.h"

#include <argtable2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "driver/conversion_context.h"
#include "driver/exit_status_table.h"
#include "driver/flag_values.h"
#include "driver/output_sink.h"
#include "driver/input_list.h"
#include "driver/input_walk.h"
#include "common/log.h"
#include "common/log_escape.h"
#include "driver/option_kinds.h"
#include "driver/parallel_conversion.h"
#include "driver/password_store.h"
#include "driver/program_arguments.h"
#include "driver/paths.h"
#include "driver/run_context.h"
#include "driver/run_record.h"
#include "driver/shard.h"
#include "driver/temporary_files.h"
#include "driver/version.h"

namespace tracemill {

namespace {

constexpr char kProgramName[] = "tracemill";
constexpr int kMaxParseErrors = 20;

// Exit statuses of the command line and of the set-up before the first file.
constexpr int kInputMissing = 1;
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
    arg_int* jobs;
    arg_str* files_from;
    arg_lit* null_separated;
    arg_str* shard;
    void* inputs;
    struct arg_end* end;
};

void print_help(void** table) {
    fputs("Usage: tracemill", stdout);
    arg_print_syntaxv(stdout, table, "\n\n");
    arg_print_glossary(stdout, table, "  %-40s %s\n");
    print_exit_status_table(stdout);
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
    std::unordered_set<std::string> seen;
    std::vector<std::string> kept;
    kept.reserve(inputs.size());
    for (std::string& input : inputs) {
        if (!seen.insert(input).second) {
            TM_LOG(kWarn, "Input %s is named more than once; it is converted once", escape_file_name(input).c_str());
            continue;
        }
        kept.push_back(std::move(input));
    }
    inputs = std::move(kept);
}

// With --files-from the arguments may name no input at all: the positional
// row's "missing" error is dropped. Returns how many errors are left.
int waive_missing_inputs(struct arg_end* end, const void* inputs_row) {
    int kept = 0;
    for (int i = 0; i < end->count; ++i) {
        if (end->parent[i] == inputs_row && end->error[i] == kOptionTooFew) continue;
        end->error[kept] = end->error[i];
        end->parent[kept] = end->parent[i];
        end->argval[kept] = end->argval[i];
        ++kept;
    }
    end->count = kept;
    return kept;
}

// The inputs of --files-from after those of the arguments, made absolute like them.
bool add_listed_inputs(RunContext& context, const Rows& rows, int& exit_status) {
    if (rows.files_from->count == 0) {
        if (rows.null_separated->count > 0) TM_LOG(kWarn, "--null changes nothing without --files-from");
        return true;
    }
    std::vector<std::string> listed;
    if (!read_input_list(rows.files_from->sval[0], rows.null_separated->count > 0 ? '\0' : '\n', listed)) {
        exit_status = kInputMissing;
        return false;
    }
    TM_LOG(kInfo, "%ld input(s) listed in %s", static_cast<long>(listed.size()),
           escape_file_name(rows.files_from->sval[0]).c_str());
    for (std::string& path : listed) {
        normalize_path(path);
        context.inputs.push_back(std::move(path));
    }
    return true;
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
    table.add(rows.jobs = arg_int0("j", "jobs", "<n>",
                                   "convert up to <n> files at once, defaults to the number of cores"));
    table.add(path_list_option("p", "password-file", nullptr, 0, 1,
                               "where to find device passwords for encrypted files, defaults to \"passwords.json\"",
                               &context.password_files));
    // --report: a machine-readable account of the run.
    arg_str* report = arg_str0(nullptr, "report", "<file>",
                               "write a JSON Lines report of every file and of the run to <file>, - for standard output");
    table.add(report);
    table.add(rows.files_from = arg_str0(nullptr, "files-from", "<file>",
                                         "also convert the paths listed in <file>, one per line, - for standard input"));
    table.add(rows.null_separated =
                  arg_lit0(nullptr, "null", "names in the --files-from list end with NUL, as find -print0 writes them"));
    std::vector<std::string> base;
    table.add(path_list_option(nullptr, "base", "<folder>", 0, 1,
                               "the folder whose tree is mirrored in the output, defaults to the longest common "
                               "folder of the inputs with --files-from",
                               &base));
    table.add(rows.shard = arg_str0(nullptr, "shard", "<k/n>",
                                    "convert only the k-th of n shards of the log files; the files of one folder "
                                    "are in one shard"));
    if (!format.add_options(table.entries)) {
        exit_status = kSetupFailed;
        return false;
    }
    table.add(path_list_option("O", "output-directory", nullptr, 0, 1, "where to place the converted files",
                               &context.output_dirs));
    table.add(arg_lit0("i", "input-files=<file(s)/folder(s)>", "list of input files/folders, must have common root"));
    table.add(rows.inputs = path_list_option(nullptr, nullptr, "file(s)/folder(s)", 1, std::max(argc - 1, 1),
                                             nullptr, &context.inputs));
    table.add(rows.end = arg_end(kMaxParseErrors));
    if (!table.complete()) {
        exit_status = kSetupFailed;
        return false;
    }

    std::vector<char*> rest;
    const std::vector<ValueToFlag> values_to_flags = split_off_values_to_flags(table.data(), argc, argv, rest);
    // Values to flags are kept out of argtable's parse; help and version still win over them.
    int errors = arg_parse(static_cast<int>(rest.size()) - 1, rest.data(), table.data());
    if (errors > 0 && rows.files_from->count > 0) errors = waive_missing_inputs(rows.end, rows.inputs);
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
        report_values_to_flags(stdout, kProgramName, values_to_flags);
        if (errors > 0) arg_print_errors(stdout, rows.end, kProgramName);
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
    if (rows.jobs->count == 1) {
        if (rows.jobs->ival[0] < 1) {
            TM_LOG(kFatal, "Number of jobs must be at least 1: %d", rows.jobs->ival[0]);
            exit_status = kBadValue;
            return false;
        }
        options.jobs = std::min(rows.jobs->ival[0], kMaxJobs);
    } else {
        const unsigned cores = std::thread::hardware_concurrency();  // processors online; 0 when unknown
        options.jobs = cores > 1 ? static_cast<int>(std::min(cores, unsigned{kMaxJobs})) : 1;
    }
    if (rows.shard->count == 1 && !parse_shard(rows.shard->sval[0], options.shard)) {
        TM_LOG(kFatal, "Shard must be k/n with 1 <= k <= n: %s", escape_file_text(rows.shard->sval[0]).c_str());
        exit_status = kBadValue;
        return false;
    }
    // The table and its rows go with this function: the format takes its values now.
    format.take_options();
    if (report != nullptr && report->count == 1) options.report_path = report->sval[0];

    if (!add_listed_inputs(context, rows, exit_status)) return false;
    drop_repeated_inputs(context.inputs);
    if (!load_password_store(context, exit_status)) return false;
    TM_LOG(kInfo, "%ld password(s) loaded", static_cast<long>(options.passwords.size()));
    // A list or a base folder may hold inputs from many folders; otherwise they share one parent.
    const bool list_root = rows.files_from->count > 0 || !base.empty();
    if (!(list_root ? find_list_root(context, base.empty() ? std::string() : base.front(), exit_status)
                    : find_input_root(context, exit_status)))
        return false;
    if (options.shard.count > 1)
        TM_LOG(kInfo, "Converting shard %u of %u", options.shard.index, options.shard.count);
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
    RunRecord record;
    if (!record.start(*context)) return kSetupFailed;
    ConversionContext conversion{context->input_fs.get(), context->output_fs(), true, &context->options,
                                 sink.get(), FileInfo{}};
    conversion.observer = &record;
    std::unique_ptr<ParallelConversion> parallel;
    if (context->options.jobs > 1) {
        const bool durable = context->options.delete_converted;
        parallel = std::make_unique<ParallelConversion>(
            conversion, convert_file, [&format, &context, durable] { return format.new_sink(*context->output_fs(), durable); });
        if (!parallel->start(context->options.jobs)) return kSetupFailed;
        conversion.parallel = parallel.get();
    }
    exit_status = convert_inputs(conversion, context->inputs);
    if (parallel) {
        exit_status |= parallel->finish();
        // Its writers borrow the output root too.
        parallel.reset();
    }
    record.finish(exit_status);
    // The writer borrows the output root, so it goes before the context that owns it.
    sink.reset();
    context.reset();
    return exit_status;
}

}  // namespace

int run_tracemill(int argc, char** argv, OutputFormat& format) {
    try {
        ProgramArguments arguments(argc, argv);
        return run(arguments.count(), arguments.values(), format);
    } catch (const std::bad_alloc&) {
        TM_LOG(kFatal, "Out of memory");
        return kSetupFailed;
    }
}

}  // namespace tracemill
