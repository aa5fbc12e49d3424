// tm_mdfgen: writes a synthetic bus log (MDF4) from a seed and a few options.
// The same options always give the same bytes; used for demo data and benchmarks.
#include <argtable2.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mdf_generator.h"
#include "mdf_writer.h"
#include "tool_options.h"

namespace {

using tracemill::tools::GeneratorOptions;
using tracemill::tools::PayloadStorage;
using tracemill::tools::parse_u64;
using tracemill::tools::ToolOptionTable;

bool parse_payload(const char* text, PayloadStorage& storage) {
    const std::string name = text;
    if (name == "record") storage = PayloadStorage::InRecord;
    else if (name == "sd") storage = PayloadStorage::SignalData;
    else if (name == "vlsd") storage = PayloadStorage::VlsdGroup;
    else return false;
    return true;
}

int run(int argc, char** argv) {
    struct arg_lit* help = arg_lit0("h", "help", "print this help and exit");
    struct arg_file* output = arg_file1("o", "output", "<file>", "MDF4 file to write");
    struct arg_str* frames = arg_str0("n", "frames", "<count>", "bus events over all data groups (default 1000)");
    struct arg_str* seed = arg_str0("s", "seed", "<number>", "random seed (default 1)");
    struct arg_int* groups = arg_int0("g", "data-groups", "<count>", "data groups, each with its own event stream (default 1)");
    struct arg_str* mix = arg_str0("m", "mix", "<kind=weight,...>",
                            "event weights: classic, fd, remote, error, lin, linerr "
                            "(default classic=70,fd=20,remote=3,error=2,lin=5)");
    struct arg_str* payload = arg_str0("p", "payload", "record|sd|vlsd", "where data bytes go (default sd)");
    struct arg_lit* sorted = arg_lit0(nullptr, "sorted", "sorted data groups holding CAN data frames only");
    struct arg_lit* unfinalised = arg_lit0(nullptr, "unfinalised", "leave the file unfinalised");
    struct arg_str* serial = arg_str0(nullptr, "serial", "<text>", "logger serial number (default 0000ABCD)");
    struct arg_int* session = arg_int0(nullptr, "session", "<n>", "session number (default 1)");
    struct arg_int* split = arg_int0(nullptr, "split", "<n>", "split number (default 1)");
    struct arg_str* start = arg_str0(nullptr, "start-ns", "<ns>", "start time, ns since 1970 (default 1700000000000000000)");
    struct arg_int* tz = arg_int0(nullptr, "tz-minutes", "<n>", "time zone offset in minutes (default 0)");
    struct arg_dbl* gap = arg_dbl0(nullptr, "gap", "<seconds>", "mean time between events of a data group (default 0.001)");
    struct arg_end* end = arg_end(20);
    void* table[] = {help, output, frames, seed, groups, mix, payload, sorted, unfinalised, serial,
                     session, split, start, tz, gap, end};
    ToolOptionTable options_table(table, sizeof(table) / sizeof(table[0]));
    if (const auto status = options_table.parse("tm_mdfgen", argc, argv, help, end, "  %-28s %s\n")) return *status;

    GeneratorOptions options;
    bool ok = true;
    if (frames->count) ok &= parse_u64(frames->sval[0], options.frames);
    if (seed->count) ok &= parse_u64(seed->sval[0], options.seed);
    if (start->count) ok &= parse_u64(start->sval[0], options.start_time_ns);
    if (mix->count) ok &= tracemill::tools::parse_frame_mix(mix->sval[0], options.mix);
    if (payload->count) ok &= parse_payload(payload->sval[0], options.payload);
    if (groups->count) ok &= groups->ival[0] > 0 && groups->ival[0] <= 1000;
    if (session->count) ok &= session->ival[0] >= 0;
    if (split->count) ok &= split->ival[0] >= 0;
    if (gap->count) ok &= gap->dval[0] > 0;
    if (!ok) {
        std::printf("tm_mdfgen: invalid option value (see --help)\n");
        return 1;
    }
    if (groups->count) options.data_groups = static_cast<uint32_t>(groups->ival[0]);
    if (serial->count) options.logger.serial = serial->sval[0];
    if (session->count) options.logger.session = static_cast<uint32_t>(session->ival[0]);
    if (split->count) options.logger.split = static_cast<uint32_t>(split->ival[0]);
    if (tz->count) options.tz_offset_min = static_cast<int16_t>(tz->ival[0]);
    if (gap->count) options.mean_gap_s = gap->dval[0];
    options.sorted = sorted->count > 0;
    options.finalised = unfinalised->count == 0;

    const std::string path = output->filename[0];
    if (!tracemill::tools::write_mdf_file(tracemill::tools::generate_log(options), path)) {
        std::fprintf(stderr, "tm_mdfgen: cannot write %s\n", path.c_str());
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
