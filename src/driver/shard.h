// Shards: one of N parts of a run's log files, for spreading a large set of
// inputs over several processes or machines. A file belongs to the shard of
// the folder that holds it, so the files a logger writes into one folder (its
// sessions, their splits and any copies) are converted by one process, in
// their walk order, and relate to each other as in a run without shards.
#pragma once

#include <cstdint>
#include <string_view>

namespace tracemill {

struct Shard {
    uint32_t index = 1;  // 1 ≤ index ≤ count
    uint32_t count = 1;  // 1: the whole run

    // Whether `folder` (relative to the input root: "" or ending in "/") is this shard's.
    bool holds_folder(std::string_view folder) const;
    // Whether the file or failed path at `relative_path` is this shard's: the
    // shard of the folder holding it.
    bool holds(std::string_view relative_path) const;
};

// "K/N" with decimal 1 ≤ K ≤ N ≤ 4294967295 and nothing else; false otherwise.
bool parse_shard(std::string_view text, Shard& shard);

// 64-bit FNV-1a of the folder's bytes as the walk names it relative to the
// input root ("" for the root itself, else ending in "/", e.g. "SN0042/S007/").
// The folder's shard is hash % N + 1: stable across machines, runs and versions.
uint64_t folder_hash(std::string_view folder);

}  // namespace tracemill
