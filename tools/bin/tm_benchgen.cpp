// tm_benchgen: writes the benchmark inputs, deterministic from a seed.
//   tm_benchgen -o FILE -n FRAMES -g GROUPS -s SEED
//       one log whose data groups take turns storing payloads in SD blocks and
//       in VLSD channel groups, each group its own event stream, so the groups
//       interleave in time;
//   tm_benchgen -o FOLDER --files COUNT -n FRAMES -s SEED
//       COUNT small logs of FRAMES events each, every one a different split of
//       the same session so that none is skipped as a repeat.
// The event mix is mostly classic 8-byte CAN frames with some CAN FD frames of
// up to 64 bytes, remote and error frames and LIN frames.
#include <argtable2.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bus_groups.h"
#include "mdf_writer.h"
#include "tool_options.h"

namespace {

using namespace tracemill::tools;

// splitmix64: the same stream on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    uint64_t state_;
};

// Event mix in per mille: mostly classic CAN, then CAN FD, LIN, remote, error.
constexpr uint32_t kClassicPerMille = 850, kFdPerMille = 80, kLinPerMille = 40, kRemotePerMille = 20;
constexpr double kMeanGapSeconds = 0.0005;

SourceSpec bus_source(const char* name, uint8_t bus_type) {
    std::string comment;
    if (bus_type == kBusTypeCan)
        comment = "<SIcomment><TX>CAN</TX><common_properties><e name=\"bit rate\" unit=\"bit/s\">500000"
                  "</e></common_properties></SIcomment>";
    return {name, kSourceTypeBus, bus_type, {comment, false}};
}

// One data group with its own event stream. Odd groups keep CAN payloads in a
// VLSD channel group, even ones in an SD block; LIN payloads always go to an SD
// block.
class GroupWriter {
public:
    GroupWriter(uint64_t seed, bool vlsd) : random_(seed), group_(1) {
        remote_ = group_.add_group(BusGroupKind::CanRemoteFrame);
        error_ = group_.add_group(BusGroupKind::CanErrorFrame);
        lin_ = group_.add_group(BusGroupKind::LinFrame, BusGroupOptions()
                                                            .with_payload(PayloadStorage::SignalData)
                                                            .with_source(bus_source("LIN", kBusTypeLin)));
        can_ = group_.add_group(BusGroupKind::CanDataFrame,
                                BusGroupOptions()
                                    .with_payload(vlsd ? PayloadStorage::VlsdGroup : PayloadStorage::SignalData, 64)
                                    .with_source(bus_source("CAN", kBusTypeCan)));
        for (auto& id : standard_ids_) id = 0x100 + random_.below(0x6FF);
        for (auto& id : extended_ids_) id = 0x18000000 | random_.below(0xFFFFFF);
    }

    void add_events(uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) {
            time_ += kMeanGapSeconds * 2 * random_.unit();
            add_event();
        }
    }

    DataGroupSpec take() { return group_.take(); }

private:
    uint32_t can_id(bool& extended) {
        extended = random_.below(8) == 0;
        return extended ? extended_ids_[random_.below(8)] : standard_ids_[random_.below(32)];
    }
    void fill(std::vector<uint8_t>& data, size_t length) {
        data.resize(length);
        for (size_t i = 0; i < length; i += 8) {
            const uint64_t bits = random_.next();
            for (size_t b = i; b < length && b < i + 8; ++b) data[b] = static_cast<uint8_t>(bits >> (8 * (b - i)));
        }
    }
    void add_can(bool fd) {
        static constexpr uint8_t kFdLengths[] = {12, 16, 20, 24, 32, 48, 64};
        can_frame_.time = time_;
        can_frame_.bus = static_cast<uint8_t>(1 + random_.below(2));
        can_frame_.id = can_id(can_frame_.ide);
        can_frame_.dir = random_.below(10) == 0;
        can_frame_.edl = fd;
        can_frame_.brs = fd && random_.below(4) != 0;
        size_t length = random_.below(10) == 0 ? random_.below(8) : 8;
        if (fd && random_.below(4) != 0) length = kFdLengths[random_.below(7)];
        fill(can_frame_.data, length);
        group_.add(can_, can_frame_);
    }
    void add_event() {
        const uint32_t roll = random_.below(1000);
        if (roll < kClassicPerMille) return add_can(false);
        if (roll < kClassicPerMille + kFdPerMille) return add_can(true);
        if (roll < kClassicPerMille + kFdPerMille + kLinPerMille) {
            lin_frame_.time = time_;
            lin_frame_.id = static_cast<uint8_t>(random_.below(64));
            lin_frame_.dir = random_.below(2) != 0;
            fill(lin_frame_.data, 1 + random_.below(8));
            return group_.add(lin_, lin_frame_);
        }
        if (roll < kClassicPerMille + kFdPerMille + kLinPerMille + kRemotePerMille) {
            CanRemoteFrame frame = remote_frame(time_, 0, static_cast<uint8_t>(random_.below(9)));
            frame.id = can_id(frame.ide);
            return group_.add(remote_, frame);
        }
        group_.add(error_, error_frame(time_, static_cast<uint8_t>(1 + random_.below(5)),
                                       static_cast<uint8_t>(1 + random_.below(2))));
    }

    Random random_;
    BusDataGroup group_;
    size_t remote_ = 0, error_ = 0, lin_ = 0, can_ = 0;
    uint32_t standard_ids_[32] = {};
    uint32_t extended_ids_[8] = {};
    double time_ = 0;
    CanFrame can_frame_;  // reused so that payloads do not allocate per event
    LinFrame lin_frame_;
};

constexpr uint64_t kStartTimeNs = 1'700'000'000'000'000'000ULL;

FileSpec bench_log(uint64_t frames, uint32_t groups, uint64_t seed, uint32_t split) {
    LoggerProperties logger;
    logger.split = split;
    FileSpec file = logger_file(logger, kStartTimeNs + uint64_t{split} * 1'000'000'000ULL);
    for (uint32_t g = 0; g < groups; ++g) {
        GroupWriter writer(seed * 1000 + g, g % 2 == 1);
        writer.add_events(frames / groups + (g < frames % groups ? 1 : 0));
        file.data_groups.push_back(writer.take());
    }
    return file;
}

bool write_small_files(const std::string& folder, uint64_t count, uint64_t frames, uint64_t seed) {
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error) return false;
    for (uint64_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/small_%05llu.mf4", static_cast<unsigned long long>(i));
        if (!write_mdf_file(bench_log(frames, 4, seed + i, static_cast<uint32_t>(i + 1)), folder + name)) return false;
    }
    return true;
}

int run(int argc, char** argv) {
    struct arg_lit* help = arg_lit0("h", "help", "print this help and exit");
    struct arg_file* output = arg_file1("o", "output", "<path>", "log file, or folder with --files");
    struct arg_str* frames = arg_str0("n", "frames", "<count>", "events per file (default 1000)");
    struct arg_str* seed = arg_str0("s", "seed", "<number>", "random seed (default 1)");
    struct arg_int* groups = arg_int0("g", "data-groups", "<count>", "data groups of one log (default 4)");
    struct arg_str* files = arg_str0(nullptr, "files", "<count>", "write this many small logs into the folder");
    struct arg_end* end = arg_end(20);
    void* table[] = {help, output, frames, seed, groups, files, end};
    ToolOptionTable options_table(table, sizeof(table) / sizeof(table[0]));
    if (const auto status = options_table.parse("tm_benchgen", argc, argv, help, end, "  %-24s %s\n")) return *status;

    uint64_t frame_count = 1000, seed_value = 1, file_count = 0;
    bool ok = true;
    if (frames->count) ok &= parse_u64(frames->sval[0], frame_count);
    if (seed->count) ok &= parse_u64(seed->sval[0], seed_value);
    if (files->count) ok &= parse_u64(files->sval[0], file_count) && file_count > 0;
    if (groups->count) ok &= groups->ival[0] > 0 && groups->ival[0] <= 1000;
    if (!ok) {
        std::printf("tm_benchgen: invalid option value (see --help)\n");
        return 1;
    }
    const std::string path = output->filename[0];
    const bool written = file_count > 0
                             ? write_small_files(path, file_count, frame_count, seed_value)
                             : write_mdf_file(bench_log(frame_count, groups->count ? groups->ival[0] : 4, seed_value, 1),
                                              path);
    if (!written) {
        std::fprintf(stderr, "tm_benchgen: cannot write %s\n", path.c_str());
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
