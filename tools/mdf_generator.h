// Deterministic synthetic bus logs: a seed and a few knobs in, a FileSpec out.
// Used by the command-line generator, the benchmarks and the demo examples.
#pragma once

#include <cstdint>
#include <string>

#include "bus_groups.h"
#include "mdf_writer.h"

namespace tracemill::tools {

// Relative weights of the event kinds; a kind with weight 0 gets no channel group.
struct FrameMix {
    uint32_t classic = 70;     // CAN frames of up to 8 bytes
    uint32_t fd = 20;          // CAN FD frames of up to 64 bytes
    uint32_t remote = 3;
    uint32_t error = 2;
    uint32_t lin = 5;
    uint32_t lin_errors = 0;   // LIN checksum, receive, transmission and sync errors
};

// Parses "classic=70,fd=20,remote=3,error=2,lin=5,linerr=0" (any subset, other
// kinds 0); false on an unknown kind or a malformed weight.
bool parse_frame_mix(const std::string& text, FrameMix& mix);

struct GeneratorOptions {
    uint64_t frames = 1000;      // events over all data groups
    uint64_t seed = 1;
    uint32_t data_groups = 1;
    FrameMix mix;
    PayloadStorage payload = PayloadStorage::SignalData;  // for CAN and LIN data bytes
    bool sorted = false;         // one CAN_DataFrame group per data group, no record ids
    bool finalised = true;
    LoggerProperties logger;
    uint64_t start_time_ns = 1'700'000'000'000'000'000ULL;
    int16_t tz_offset_min = 0;
    double mean_gap_s = 0.001;   // mean time between events of one data group
};

FileSpec generate_log(const GeneratorOptions& options);

}  // namespace tracemill::tools
