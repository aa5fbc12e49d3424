// The argtable callbacks of the checked option kinds.
#include "driver/option_kinds.h"

#include <cstdlib>
#include <new>

#include "driver/paths.h"

namespace tracemill {

namespace {

void reset_option(void* parent) { static_cast<CheckedOption*>(parent)->count = 0; }

int scan_option(void* parent, const char* value) {
    auto* option = static_cast<CheckedOption*>(parent);
    if (option->count >= option->hdr.maxcount) return kOptionTooMany;
    if (value != nullptr) option->values[option->count++] = value;
    return 0;
}

int check_option(void* parent) {
    auto* option = static_cast<CheckedOption*>(parent);
    if (option->count < option->hdr.mincount) return kOptionTooFew;
    if (option->check == nullptr) return 0;
    return option->check(option->values, option->count, option->destination) * kCheckScale;
}

void report_option_error(void* parent, FILE* out, int code, const char* /*value*/, const char* progname) {
    auto* option = static_cast<CheckedOption*>(parent);
    const arg_hdr& hdr = option->hdr;
    if (code == kOptionTooFew || code == kOptionTooMany) {
        fprintf(out, "%s: %s", progname, code == kOptionTooFew ? "missing option " : "excess option ");
        arg_print_option(out, hdr.shortopts, hdr.longopts, hdr.datatype, "\n");
        return;
    }
    if (option->report != nullptr) option->report(out, code / kCheckScale, *option, progname);
}

CheckedOption* new_checked_option(const char* shortopts, const char* longopts, const char* datatype,
                                  int mincount, int maxcount, const char* glossary, OptionCheck check,
                                  OptionErrorReport report, void* destination) {
    if (maxcount < mincount) maxcount = mincount;
    if (maxcount < 1) maxcount = 1;
    const size_t bytes = sizeof(CheckedOption) + sizeof(const char*) * static_cast<size_t>(maxcount);
    auto* option = static_cast<CheckedOption*>(calloc(1, bytes));
    if (option == nullptr) return nullptr;
    option->hdr.flag = ARG_HASVALUE;
    option->hdr.shortopts = shortopts;
    option->hdr.longopts = longopts;
    option->hdr.datatype = datatype;
    option->hdr.glossary = glossary;
    option->hdr.mincount = mincount;
    option->hdr.maxcount = maxcount;
    option->hdr.parent = option;
    option->hdr.resetfn = reset_option;
    option->hdr.scanfn = scan_option;
    option->hdr.checkfn = check_option;
    option->hdr.errorfn = report_option_error;
    option->values = reinterpret_cast<const char**>(option + 1);
    option->check = check;
    option->report = report;
    option->destination = destination;
    return option;
}

}  // namespace

int normalize_into_list(const char* const* values, int count, void* destination) {
    auto* list = static_cast<std::vector<std::string>*>(destination);
    try {
        for (int i = 0; i < count; ++i) {
            std::string path(values[i]);
            normalize_path(path);
            list->push_back(std::move(path));
        }
    } catch (const std::bad_alloc&) {
        return kCheckOutOfMemory;
    }
    return 0;
}

void report_path_list_error(FILE* out, int code, const CheckedOption& /*option*/, const char* progname) {
    if (code == kCheckOutOfMemory) fprintf(out, "%s: internal error, could not allocate memory\n", progname);
}

CheckedOption* path_list_option(const char* shortopts, const char* longopts, const char* datatype,
                                int mincount, int maxcount, const char* glossary,
                                std::vector<std::string>* destination) {
    return new_checked_option(shortopts, longopts, datatype ? datatype : "<file>", mincount, maxcount,
                              glossary, normalize_into_list, report_path_list_error, destination);
}

CheckedOption* validated_text_option(const char* shortopts, const char* longopts, const char* datatype,
                                     int mincount, int maxcount, const char* glossary,
                                     OptionCheck check, OptionErrorReport report, void* destination) {
    return new_checked_option(shortopts, longopts, datatype ? datatype : "<string>", mincount, maxcount,
                              glossary, check, report, destination);
}

}  // namespace tracemill
