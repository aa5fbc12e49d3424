// Extraction of the logger properties from XML comments, on expat.
//
// Elements are tracked on a stack of labels: an element's own name, replaced
// by its "name" attribute for "tree" and "e" elements below
// "common_properties". An "e" element's key joins the labels from the root
// down, leaving out "common_properties"; its text becomes the value.
//
// The joined labels are kept as one growing path, so an entry costs the
// length of its key and not the depth of its element; and the bytes of keys
// one text may make are bounded by its own size, so deep nesting with long
// names cannot turn a small comment into a large map.
#include "mdf/metadata.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "common/log.h"
#include "mdf/block_reader.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace {

constexpr std::string_view kPropertiesElement = "common_properties";

// Key bytes one XML text may make: a multiple of its size, plus room for
// short texts. A logger's keys are shorter than the elements that make them.
constexpr uint64_t kKeyBytesPerTextByte = 4;
constexpr uint64_t kKeyBytesSlack = 4096;

// One open element: where its label (and the dot behind it, when the label
// has a place in keys) starts in the path.
struct OpenElement {
    size_t path_size_before = 0;
};

struct ParseState {
    XML_Parser parser = nullptr;
    MetadataMap* map = nullptr;
    std::vector<OpenElement> open;
    std::string path;          // the labels of the open elements joined, each followed by '.'
    bool in_properties = false;  // the second open element is "common_properties"
    uint64_t* key_budget = nullptr;  // key bytes the texts may still make
    // The value that character data goes to; points into `map`, which only
    // moves its entries on insertion, after which the target is set anew.
    std::string* text_target = nullptr;
    bool out_of_memory = false;
    bool over_budget = false;
};

const char* attribute(const XML_Char** attributes, const char* wanted) {
    for (const XML_Char** pair = attributes; pair[0]; pair += 2)
        if (std::strcmp(pair[0], wanted) == 0) return pair[1];
    return nullptr;
}

std::string attribute_text(const XML_Char** attributes, const char* wanted) {
    const char* value = attribute(attributes, wanted);
    return value ? std::string(value) : std::string();
}

// The key of the innermost open element: the path without its last dot.
std::string_view entry_key(const ParseState& state) {
    std::string_view key = state.path;
    if (!key.empty()) key.remove_suffix(1);
    return key;
}

void stop_parsing(ParseState& state, bool& why) {
    why = true;
    XML_StopParser(state.parser, XML_FALSE);
}

void add_entry(ParseState& state, const XML_Char** attributes) {
    const std::string_view key = entry_key(state);
    if (key.size() > *state.key_budget) {
        TM_LOG(kWarn, "Logger properties skipped: their keys take more room than the comments that hold them");
        stop_parsing(state, state.over_budget);
        return;
    }
    *state.key_budget -= key.size();
    if (state.map->contains(key)) return;  // the first entry of a key stays, and so does the text target
    MetadataEntry entry;
    entry.key = std::string(key);
    entry.name = attribute_text(attributes, "name");
    entry.description = attribute_text(attributes, "description");
    entry.unit = attribute_text(attributes, "unit");
    entry.type = attribute_text(attributes, "type");
    const char* read_only = attribute(attributes, "ro");
    entry.read_only = read_only && std::strcmp(read_only, "true") == 0;
    state.map->insert(std::string(key), std::move(entry));
    state.text_target = &state.map->find(key)->value;
}

// Appends an element's label to the path; "common_properties" has no place in keys.
void push_label(ParseState& state, std::string_view label) {
    state.open.push_back({state.path.size()});
    if (label == kPropertiesElement) return;
    state.path += label;
    state.path += '.';
}

void XMLCALL on_start(void* user, const XML_Char* element, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(user);
    try {
        const size_t depth = state.open.size();  // of this element's parent
        if (depth == 1) state.in_properties = element == kPropertiesElement;
        const bool is_tree = std::strcmp(element, "tree") == 0;
        const bool is_entry = std::strcmp(element, "e") == 0;
        if (depth < 2 || !state.in_properties || !(is_tree || is_entry)) {
            push_label(state, element);
            return;
        }
        const char* name = attribute(attributes, "name");
        push_label(state, name ? name : "");
        if (is_entry) add_entry(state, attributes);
    } catch (const std::bad_alloc&) {
        stop_parsing(state, state.out_of_memory);
    }
}

void XMLCALL on_end(void* user, const XML_Char*) {
    auto& state = *static_cast<ParseState*>(user);
    if (!state.open.empty()) {
        state.path.resize(state.open.back().path_size_before);
        state.open.pop_back();
    }
    state.text_target = nullptr;
}

void XMLCALL on_text(void* user, const XML_Char* text, int length) {
    auto& state = *static_cast<ParseState*>(user);
    if (!state.text_target) return;
    try {
        std::string& value = *state.text_target;
        value.append(text, static_cast<size_t>(length));
        // Only spaces lead nowhere; a leading tab or line break stays.
        const size_t first = value.find_first_not_of(' ');
        value.erase(0, first == std::string::npos ? value.size() : first);
    } catch (const std::bad_alloc&) {
        stop_parsing(state, state.out_of_memory);
    }
}

bool is_bus_source_with_properties(const MdfBlock* block) {
    const SiBlock* source = block_as<SiBlock>(block);
    if (!source || !source->is_bus()) return false;
    return is_decoded_bus_type(source->bus_type) && block_as<MdBlock>(source->comment);
}

}  // namespace

uint64_t key_budget_for(uint64_t text_bytes) { return kKeyBytesPerTextByte * text_bytes + kKeyBytesSlack; }

bool parse_common_properties(std::string_view xml, MetadataMap& map) {
    uint64_t key_budget = key_budget_for(xml.size());
    return parse_common_properties(xml, map, key_budget);
}

bool parse_common_properties(std::string_view xml, MetadataMap& map, uint64_t& key_budget) {
    if (xml.size() > static_cast<size_t>(INT_MAX)) return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return false;
    ParseState state;
    state.parser = parser;
    state.map = &map;
    state.key_budget = &key_budget;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    const XML_Status status = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    XML_ParserFree(parser);
    return status == XML_STATUS_OK && !state.out_of_memory && !state.over_budget;
}

MetadataMap read_header_metadata(const MdfFile& file) {
    MetadataMap map;
    const HdBlock* header = file.header();
    if (!header || !block_as<MdBlock>(header->comment)) return map;

    // The header comment first, then those of the bus sources; a comment
    // shared by many sources is parsed once, as a second parse of the same
    // text adds nothing (the first entry of a key stays).
    std::vector<const TextBlock*> comments{block_as<MdBlock>(header->comment)};
    BlockSet parsed;
    parsed.insert(comments.front());
    BlockSet blocks;
    visit_blocks(file.id.get(), blocks);
    for (const MdfBlock* block : blocks.blocks()) {
        if (!is_bus_source_with_properties(block)) continue;
        const TextBlock* comment = block_as<MdBlock>(block_as<SiBlock>(block)->comment);
        if (parsed.insert(comment)) comments.push_back(comment);
    }

    uint64_t text_bytes = 0;
    for (const TextBlock* comment : comments) text_bytes += comment->text.size();
    uint64_t key_budget = key_budget_for(text_bytes);
    for (const TextBlock* comment : comments) {
        if (!parse_common_properties(comment->text, map, key_budget)) {
            map.clear();
            return map;
        }
    }
    return map;
}

}  // namespace tracemill
