// Windows passes main its arguments in the console's code page, which cannot
// hold every file name: they are taken again from the UTF-16 command line.
// The console is switched to UTF-8 so that log lines show names as they are,
// and standard output and error to binary mode, so that they carry the same
// bytes as on other systems ("\n", never "\r\n"; the console shows both alike).
#include "driver/program_arguments.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "common/wide_text_windows.h"

namespace tracemill {

ProgramArguments::ProgramArguments(int argc, char** argv) {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int wide_count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wide_count);
    if (wide != nullptr && wide_count == argc) {
        for (int i = 0; i < wide_count; ++i) {
            std::string text;
            // A lone surrogate has no UTF-8 form: that argument keeps the code page's version.
            texts_.push_back(utf8_from_wide(wide[i], text) ? std::move(text) : std::string(argv[i]));
        }
    } else {
        texts_.assign(argv, argv + argc);
    }
    if (wide != nullptr) LocalFree(wide);
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace tracemill
