// The shard of a folder: a documented hash of its relative path.
#include "driver/shard.h"

#include "driver/paths.h"

namespace tracemill {
namespace {

constexpr uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
constexpr uint64_t kFnvPrime = 1099511628211ULL;

// Decimal digits only, at least one, no overflow of 32 bits.
bool parse_count(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > UINT32_MAX) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

uint64_t folder_hash(std::string_view folder) {
    uint64_t hash = kFnvOffsetBasis;
    for (const char c : folder) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

bool Shard::holds_folder(std::string_view folder) const {
    return count <= 1 || folder_hash(folder) % count + 1 == index;
}

bool Shard::holds(std::string_view relative_path) const { return holds_folder(parent_folder(relative_path)); }

bool parse_shard(std::string_view text, Shard& shard) {
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    Shard parsed;
    if (!parse_count(text.substr(0, slash), parsed.index) || !parse_count(text.substr(slash + 1), parsed.count))
        return false;
    if (parsed.index < 1 || parsed.index > parsed.count) return false;
    shard = parsed;
    return true;
}

}  // namespace tracemill
