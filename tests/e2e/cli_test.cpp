// The command line as a user meets it: the real binary, its standard output,
// standard error and exit status.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tracemill-cli-XXXXXX").string();
        work = fs::canonical(mkdtemp(pattern.data()));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    // Runs tracemill with `args` in the folder `work` (no passwords.json unless a test writes one).
    Outcome run(const std::vector<std::string>& args) const {
        const fs::path out_file = work / ".stdout";
        const fs::path err_file = work / ".stderr";
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(work.c_str()) != 0) _exit(250);
            std::vector<std::string> copy = args;
            std::vector<char*> argv{const_cast<char*>(TRACEMILL_BINARY)};
            for (std::string& arg : copy) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(TRACEMILL_BINARY, argv.data());
            _exit(251);
        }
        Outcome outcome;
        int wait_status = 0;
        if (pid > 0 && waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
            outcome.status = WEXITSTATUS(wait_status);
        outcome.out = read_all(out_file);
        outcome.err = read_all(err_file);
        fs::remove(out_file);
        fs::remove(err_file);
        return outcome;
    }

    std::string write(const std::string& relative, const std::string& content = "x") const {
        fs::create_directories((work / relative).parent_path());
        std::ofstream(work / relative, std::ios::binary) << content;
        return (work / relative).string();
    }
    std::string folder(const std::string& relative) const {
        fs::create_directories(work / relative);
        return (work / relative).string();
    }

    fs::path work;
};

const char kUsageOptions[] =
    "Usage: tracemill [-h|--help] [-v|--version] [--verbosity=<n>] [-q|--quiet] [--non-interactive] [-d|--delete-converted] "
    "[-X|--no-append-root] [-b|--buffer=<n>] [-j|--jobs=<n>] [-p|--password-file=<file>] [--report=<file>] "
    "[--files-from=<file>] [--null] [--base=<folder>] [--shard=<k/n>] "
    "[-F|--format={trc,asc,blf,log,csv}] [-f|--trace-format={version1,version2}] [--reserved-column] [--blf-level=<0..9>] "
    "[-O|--output-directory=<file>] "
    "[-i|--input-files=<file(s)/folder(s)>]";

const char kGlossary[] =
    "  -h, --help                               display this help and exit\n"
    "  -v, --version                            display tool version and exit\n"
    "  --verbosity=<n>                          verbosity of logging messages from 0 to 4, with 0 being fatal "
    "messages only 4 being all messages including debug information. defaults to 3\n"
    "  -q, --quiet                              log errors only, as --verbosity=1\n"
    "  --non-interactive                        does not print any progress output\n"
    "  -d, --delete-converted                   deletes files after conversion if specified\n"
    "  -X, --no-append-root                     do not add \"_out\" when converting folders\n"
    "  -b, --buffer=<n>                         buffer size in bytes. 0 disables and -1 takes entire file\n"
    "  -j, --jobs=<n>                           convert up to <n> files at once, defaults to the number of cores\n"
    "  -p, --password-file=<file>               where to find device passwords for encrypted files, defaults to "
    "\"passwords.json\"\n"
    "  --report=<file>                          write a JSON Lines report of every file and of the run to <file>, - "
    "for standard output\n"
    "  --files-from=<file>                      also convert the paths listed in <file>, one per line, - for standard "
    "input\n"
    "  --null                                   names in the --files-from list end with NUL, as find -print0 writes "
    "them\n"
    "  --base=<folder>                          the folder whose tree is mirrored in the output, defaults to the "
    "longest common folder of the inputs with --files-from\n"
    "  --shard=<k/n>                            convert only the k-th of n shards of the log files; the files of one "
    "folder are in one shard\n"
    "  -F, --format={trc,asc,blf,log,csv}       which output formats to write, comma-separated, all in one pass; "
    "defaults to trc\n"
    "  -f, --trace-format={version1,version2}   which trace version to output, defaults to 2.1\n"
    "  --reserved-column                        add the reserved column \"R\" to TRC 2.1 lines, for readers that "
    "require it\n"
    "  --blf-level=<0..9>                       zlib level of BLF output, 0 (stored) to 9 (smallest), defaults to 1\n"
    "  -O, --output-directory=<file>            where to place the converted files\n"
    "  -i, --input-files=<file(s)/folder(s)>    list of input files/folders, must have common root\n";

// The exit status table that ends the help; tests/install/docs_test.sh holds its rows to the README's.
const char kExitStatusHeading[] = "\nExit status (the results of the inputs combine with OR, 1 + 4 = 5):\n";

std::string help_text(const std::string& positional) {
    return std::string(kUsageOptions) + positional + "\n\n" + kGlossary + kExitStatusHeading;
}

TEST_F(CliTest, HelpWinsOverEverythingElse) {
    struct Case {
        std::vector<std::string> args;
        std::string positional;  // the usage line grows with the argument count
    };
    const std::string p = "file(s)/folder(s)";
    const std::vector<Case> cases = {
        {{}, " " + p},
        {{"--help"}, " " + p},
        {{"-h"}, " " + p},
        {{"-h", "--delete-converted=yes"}, " " + p + " [" + p + "]"},
        {{"--help", "--bogus"}, " " + p + " [" + p + "]"},
        {{"--help", "-b"}, " " + p + " [" + p + "]"},
        {{"a", "--help", "-v"}, " " + p + " [" + p + "] [" + p + "]"},
        {{"a", "b", "c", "--help"}, " " + p + " [" + p + "]..."},
        {{"--help", "a", "b", "c", "d", "e"}, " " + p + " [" + p + "]..."},
    };
    for (const Case& c : cases) {
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, 0) << c.args.size();
        const std::string help = help_text(c.positional);
        EXPECT_EQ(outcome.out.substr(0, help.size()), help) << c.args.size();
        EXPECT_NE(outcome.out.find("\n  134  any other command-line error;"), std::string::npos);
        EXPECT_EQ(outcome.err, "");
    }
}

TEST_F(CliTest, VersionText) {
    const std::regex version(
        "Version: \\d\\d\\.\\d\\d\\.\\d\\d\\.([0-9a-f]{8}|unknown)\n"
        "Build date: [A-Z][a-z][a-z] [ 1-3]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d\n"
        "GIT SHA: ([0-9a-f]{40}|unknown)\n"
        "Release: \\d+\\.\\d+\\.\\d+, commit ([0-9a-f]{8}|unknown)(-dirty)?\n");
    for (const char* flag : {"-v", "--version"}) {
        const Outcome outcome = run({flag, "--bogus"});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_TRUE(std::regex_match(outcome.out, version)) << outcome.out;
        EXPECT_EQ(outcome.err, "");
    }
}

TEST_F(CliTest, CommandLineErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"-b"}, 130, ""},
        {{"x", "--buffer"}, 130, ""},
        {{"x", "-f"}, 130, ""},
        {{"-b", "12abc", "x"}, 131, ""},
        {{"--verbosity=6", "x"}, 131, ""},
        {{"--verbosity=-1", "x"}, 131, ""},
        {{"--verbosity", "x"}, 131, ""},
        {{"-d"}, 134, "tracemill: missing option file(s)/folder(s)\n"},
        {{"--bogus", "x"}, 134, "tracemill: invalid option \"--bogus\"\n"},
        {{"-f", "version3", "x"}, 134,
         "tracemill: invalid value \"version3\" to option -f|--trace-format={version1,version2}\n"},
        {{"-F", "trc,xls", "x"}, 134, "tracemill: invalid value \"xls\" to option -F|--format={trc,asc,blf,log,csv}\n"},
        {{"--format=log,csv,log", "x"}, 134,
         "tracemill: format \"log\" named twice in option -F|--format={trc,asc,blf,log,csv}\n"},
        {{"-F", "trc,", "x"}, 134, "tracemill: empty format name in \"trc,\" to option -F|--format={trc,asc,blf,log,csv}\n"},
        {{"-F", "", "x"}, 134, "tracemill: empty format name in \"\" to option -F|--format={trc,asc,blf,log,csv}\n"},
        {{"-p", "a", "-p", "b", "x"}, 134, "tracemill: excess option -p|--password-file=<file>\n"},
        {{"-O", "a", "-O", "b", "x"}, 134, "tracemill: excess option -O|--output-directory=<file>\n"},
        // A value to an option that takes none is named as such, abbreviated or not, whatever the other errors.
        {{"--delete-converted=yes", "x"}, 134,
         "tracemill: option -d|--delete-converted takes no value: \"--delete-converted=yes\"\n"},
        {{"--non-interactive=1", "x"}, 134, "tracemill: option --non-interactive takes no value: \"--non-interactive=1\"\n"},
        {{"--no-append=1", "x"}, 134, "tracemill: option -X|--no-append-root takes no value: \"--no-append=1\"\n"},
        {{"--input-files=a", "--quiet=", "x"}, 134,
         "tracemill: option -i|--input-files takes no value: \"--input-files=a\"\n"
         "tracemill: option -q|--quiet takes no value: \"--quiet=\"\n"},
        {{"--reserved-column=no", "--bogus", "x"}, 134,
         "tracemill: option --reserved-column takes no value: \"--reserved-column=no\"\n"
         "tracemill: invalid option \"--bogus\"\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, c.status) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(outcome.out, c.out) << c.args[0];
        EXPECT_EQ(outcome.err, "") << c.args[0];
    }
}

TEST_F(CliTest, VerbosityDecidesThePasswordCountLine) {
    write("passwords.json", R"({"default": "a", "0000ABCD": "b", "0000ABCD": "c"})");
    const std::string empty = folder("logs/empty");
    struct Case {
        std::vector<std::string> flags;
        bool count_line;
        bool warning;
    };
    const std::vector<Case> cases = {
        {{}, true, true},
        {{"--verbosity=0"}, false, false},
        {{"--verbosity=1"}, false, false},
        {{"--quiet"}, false, false},
        {{"--verbosity=2"}, false, true},  // warnings pass, the count note does not
        {{"--verbosity=3"}, true, true},
        {{"--verbosity=4"}, true, true},
        {{"--verbosity=5"}, true, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.flags;
        args.push_back(empty);
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.find(" I 2 password(s) loaded\n") != std::string::npos, c.count_line) << outcome.err;
        EXPECT_EQ(outcome.err.find(" W Failed to insert key for \"0000ABCD\" in password storage\n") !=
                      std::string::npos,
                  c.warning)
            << outcome.err;
    }
}

TEST_F(CliTest, InputProblemsAndTheirStatuses) {
    write("logs/notes.txt");
    write("logs/MF4");
    write("other/b.MF4");
    folder("out");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-f", "VERSION1", "-i", "-O", "out", "logs/notes.txt"}, 0, ""},
        {{"-d", "-X", "--non-interactive", "-b", "0", "--trace-format=version2", "logs/"}, 0, ""},
        {{"logs/MF4"}, 0, ""},
        {{"logs/gone.MF4"}, 1, " W Could not find input file/folder gone.MF4\n"},
        {{"logs/gone", "logs/notes.txt"}, 1, " W Could not find input file/folder gone\n"},
        {{"--", "--delete-converted=yes"}, 1, " W Could not find input file/folder --delete-converted=yes\n"},
        {{"logs/notes.txt", "other/b.MF4"}, 132, " F No common root detected for all inputs\n"},
        {{".."}, 132, " F Could not find root for \n"},
        {{"/b.MF4"}, 132, " F Could not find root for /b.MF4\n"},
        {{"missing/a.MF4"}, 129, " F Could not open input folder " + (work / "missing/").string() + "\n"},
        {{"-O", "nowhere", "logs/"}, 129, " E Invalid output path: " + (work / "nowhere").string() + "\n"},
        {{"-p", "keys.json", "logs/"}, 1, " E Failed to open password file at " + (work / "keys.json").string() + "\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, c.status) << c.args.back() << outcome.err;
        EXPECT_EQ(outcome.out, "");
        if (!c.message.empty()) {
            EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        }
    }
    EXPECT_FALSE(fs::exists(work / "logs_out"));  // nothing to convert, so no output folders
}

}  // namespace
