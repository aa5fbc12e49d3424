// The exit statuses in words, worded as the README's table (the install
// tests compare the two), for the end of the help.
#include "driver/exit_status_table.h"

#include <string_view>

namespace tracemill {
namespace {

// The exit statuses, as the README's table words them.
struct ExitStatusRow {
    int status;
    const char* meaning;
};
constexpr ExitStatusRow kExitStatusRows[] = {
    {0, "every input converted, passed over as not a log file, or skipped as a repeat; help or version printed"},
    {1, "an input does not exist, the --files-from list cannot be read, or the password file (named with -p, or an existing passwords.json) cannot be "
        "opened and read as a regular file"},
    {2, "no password for an encrypted file, or its decryption failed"},
    {4, "decompression failed"},
    {8, "any other conversion failure"},
    {129,
     "set-up failure: a path is neither file nor folder, or cannot be queried (its stat fails; the walk goes on with "
     "the next path and 129 is ORed in; at the top level the run stops); a folder inside the walk cannot be listed "
     "(named with the reason; the walk goes on); the folder holding the inputs cannot be opened (for example, it "
     "does not exist); the -O folder is not an existing folder (\"Invalid output path\"); the option table, run "
     "context or trace writer cannot be created; the --report file cannot be created"},
    {130, "command-line error: an option lacks its value (nothing printed)"},
    {131, "command-line error: an argument that is not an integer where one is needed, an argument that "
                "matches nothing, or a verbosity outside 0..5 (nothing printed); a --shard other than k/n with 1 <= k <= n (logged)"},
    {132, "the inputs do not share one parent folder, or an input lies directly in a file-system or drive root; "
          "with --files-from or --base, an input lies outside the base folder"},
    {134, "any other command-line error; the errors are printed on standard output"},
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

}  // namespace

void print_exit_status_table(FILE* out) {
    fputs("\nExit status (the results of the inputs combine with OR, 1 + 4 = 5):\n", out);
    for (const ExitStatusRow& row : kExitStatusRows) {
        fprintf(out, "  %-4d ", row.status);
        print_wrapped(out, row.meaning, 7, 100);
    }
}

}  // namespace tracemill
