// The logger's descriptive properties (serial number, session, split, ...),
// read from the XML "common_properties" of the header comment and of the CAN
// and LIN bus source comments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/hash_map.h"

namespace tracemill {

struct MdfFile;

struct MetadataEntry {
    std::string key;  // dotted path of the element: root, enclosing trees, own name
    std::string name;
    std::string description;
    std::string unit;
    std::string type;
    std::string value;
    bool read_only = false;
};

// Keyed by MetadataEntry::key; the first entry made for a key stays.
using MetadataMap = HashMap<std::string, MetadataEntry>;

// Entries of the header comment, then of every bus source comment. Empty when
// the header has no MD comment or any of the XML texts is malformed.
MetadataMap read_header_metadata(const MdfFile& file);

// Adds the "e" entries found under "common_properties" in `xml` to `map`.
// False when the XML is malformed (entries already added stay), or when its
// keys would take more than a few times the text's size (with a warning).
bool parse_common_properties(std::string_view xml, MetadataMap& map);
// The same, the keys' bytes counted against `key_budget`, which several
// texts of one file share.
bool parse_common_properties(std::string_view xml, MetadataMap& map, uint64_t& key_budget);

}  // namespace tracemill
