// What the command line fixes for a run.
#pragma once

#include <cstdint>
#include <string>

#include "common/hash_map.h"
#include "common/secret_text.h"
#include "driver/shard.h"

namespace tracemill {

// Device id text (eight upper-case hex digits) or "default" → password,
// wiped from memory when the store lets it go.
using PasswordStore = HashMap<std::string, SecretText>;

struct RunOptions {
    bool delete_converted = false;
    bool no_append_root = false;
    bool non_interactive = false;
    int64_t buffer_size = -1;  // -1: the whole file; 0: no read buffer
    int jobs = 1;              // files converted at once
    std::string report_path;   // --report: "-" for standard output; empty for none
    Shard shard;               // --shard: the part of the log files this run converts
    PasswordStore passwords;
};

}  // namespace tracemill
