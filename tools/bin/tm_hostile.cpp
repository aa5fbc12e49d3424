// tm_hostile: writes the hostile shapes, crafted files that cost a reader
// without bounds far more memory, time or output than their size.
//   tm_hostile -l                          list the shapes
//   tm_hostile -o DIR [--test-scale]       every shape into DIR
//   tm_hostile -s ROW -o FILE [-n SCALE]   one shape (ROW as listed)
// The encrypted shape's password is "pw" (default password of a password file).
#include <argtable2.h>

#include <cstdio>
#include <string>

#include "hostile_shapes.h"
#include "tool_options.h"

namespace {

using tracemill::tools::HostileShape;

std::string file_name(size_t row, const HostileShape& shape, const std::string& suffix) {
    std::string name = std::to_string(row) + "-shape" + std::to_string(shape.number) + "-" + shape.name;
    for (char& c : name)
        if (c == ' ') c = '_';
    return name + suffix;
}

bool write_shape(const HostileShape& shape, uint64_t scale, const std::string& path) {
    if (tracemill::tools::write_hostile_file(shape.build(scale), path)) return true;
    std::fprintf(stderr, "tm_hostile: cannot write %s\n", path.c_str());
    return false;
}

int run(int argc, char** argv) {
    struct arg_lit* help = arg_lit0("h", "help", "print this help and exit");
    struct arg_lit* list = arg_lit0("l", "list", "list the shapes with their scales");
    struct arg_int* row = arg_int0("s", "shape", "<row>", "write only this row of the list to the output file");
    struct arg_str* scale = arg_str0("n", "scale", "<number>", "the shape's size knob (default: its issue scale)");
    struct arg_lit* test_scale = arg_lit0(nullptr, "test-scale", "use the scales of the tests");
    struct arg_file* output = arg_file0("o", "output", "<path>", "output folder, or file with -s");
    struct arg_end* end = arg_end(20);
    void* table[] = {help, list, row, scale, test_scale, output, end};
    tracemill::tools::ToolOptionTable options(table, sizeof(table) / sizeof(table[0]));
    if (const auto status = options.parse("tm_hostile", argc, argv, help, end, "  %-24s %s\n")) return *status;

    const auto shapes = tracemill::tools::hostile_shapes();
    if (list->count) {
        for (size_t i = 0; i < shapes.size(); ++i)
            std::printf("%2zu  shape %2d  %-26s issue scale %llu, test scale %llu\n", i, shapes[i].number,
                        shapes[i].name, static_cast<unsigned long long>(shapes[i].issue_scale),
                        static_cast<unsigned long long>(shapes[i].test_scale));
        return 0;
    }
    uint64_t chosen_scale = 0;
    if (!output->count || (row->count && (row->ival[0] < 0 || static_cast<size_t>(row->ival[0]) >= shapes.size())) ||
        (scale->count && (!row->count || !tracemill::tools::parse_u64(scale->sval[0], chosen_scale)))) {
        std::printf("tm_hostile: invalid options (see --help)\n");
        return 1;
    }
    const std::string path = output->filename[0];
    if (row->count) {
        const HostileShape& shape = shapes[static_cast<size_t>(row->ival[0])];
        if (!scale->count) chosen_scale = test_scale->count ? shape.test_scale : shape.issue_scale;
        return write_shape(shape, chosen_scale, path) ? 0 : 2;
    }
    for (size_t i = 0; i < shapes.size(); ++i) {
        const HostileShape& shape = shapes[i];
        const tracemill::tools::HostileFile sample = shape.build(1);
        const std::string name = path + "/" + file_name(i, shape, sample.suffix);
        if (!write_shape(shape, test_scale->count ? shape.test_scale : shape.issue_scale, name)) return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
