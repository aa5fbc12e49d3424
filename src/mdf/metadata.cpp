// Extraction of the logger properties from XML comments, on expat.
//
// Elements are tracked on a stack of labels: an element's own name, replaced
// by its "name" attribute for "tree" and "e" elements below
// "common_properties". An "e" element's key joins the labels from the root
// down, leaving out "common_properties"; its text becomes the value.
#include "mdf/metadata.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "mdf/block_reader.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

namespace {

constexpr std::string_view kPropertiesElement = "common_properties";

struct ParseState {
    XML_Parser parser = nullptr;
    MetadataMap* map = nullptr;
    std::vector<std::string> labels;
    // The value that character data goes to; points into `map`, which only
    // moves its entries on insertion, after which the target is set anew.
    std::string* text_target = nullptr;
    bool out_of_memory = false;
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

std::string entry_key(const std::vector<std::string>& labels) {
    std::string key;
    for (const std::string& label : labels) {
        if (label == kPropertiesElement) continue;
        key += label;
        key += '.';
    }
    if (!key.empty()) key.pop_back();
    return key;
}

void add_entry(ParseState& state, const XML_Char** attributes) {
    std::string key = entry_key(state.labels);
    if (state.map->contains(key)) return;  // the first entry of a key stays, and so does the text target
    MetadataEntry entry;
    entry.key = key;
    entry.name = attribute_text(attributes, "name");
    entry.description = attribute_text(attributes, "description");
    entry.unit = attribute_text(attributes, "unit");
    entry.type = attribute_text(attributes, "type");
    const char* read_only = attribute(attributes, "ro");
    entry.read_only = read_only && std::strcmp(read_only, "true") == 0;
    state.map->insert(key, std::move(entry));
    state.text_target = &state.map->find(key)->value;
}

void stop_for_memory(ParseState& state) {
    state.out_of_memory = true;
    XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL on_start(void* user, const XML_Char* element, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(user);
    try {
        state.labels.emplace_back(element);
        const bool is_tree = std::strcmp(element, "tree") == 0;
        const bool is_entry = std::strcmp(element, "e") == 0;
        if (state.labels.size() < 3 || state.labels[1] != kPropertiesElement || !(is_tree || is_entry)) return;
        state.labels.back() = attribute_text(attributes, "name");
        if (is_entry) add_entry(state, attributes);
    } catch (const std::bad_alloc&) {
        stop_for_memory(state);
    }
}

void XMLCALL on_end(void* user, const XML_Char*) {
    auto& state = *static_cast<ParseState*>(user);
    if (!state.labels.empty()) state.labels.pop_back();
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
        stop_for_memory(state);
    }
}

bool comment_properties(const BlockRef& comment, MetadataMap& map) {
    const TextBlock* xml = block_as<MdBlock>(comment);
    return !xml || parse_common_properties(xml->text, map);
}

bool is_bus_source_with_properties(const MdfBlock* block) {
    const SiBlock* source = block_as<SiBlock>(block);
    if (!source || !source->is_bus()) return false;
    return is_decoded_bus_type(source->bus_type) && block_as<MdBlock>(source->comment);
}

}  // namespace

bool parse_common_properties(std::string_view xml, MetadataMap& map) {
    if (xml.size() > static_cast<size_t>(INT_MAX)) return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return false;
    ParseState state;
    state.parser = parser;
    state.map = &map;
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    const XML_Status status = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    XML_ParserFree(parser);
    return status == XML_STATUS_OK && !state.out_of_memory;
}

MetadataMap read_header_metadata(const MdfFile& file) {
    MetadataMap map;
    const HdBlock* header = file.header();
    if (!header || !block_as<MdBlock>(header->comment)) return map;
    if (!comment_properties(header->comment, map)) {
        map.clear();
        return map;
    }

    BlockSet blocks;
    visit_blocks(file.id.get(), blocks);
    for (const MdfBlock* block : blocks.blocks()) {
        if (!is_bus_source_with_properties(block)) continue;
        if (!comment_properties(block_as<SiBlock>(block)->comment, map)) {
            map.clear();
            return map;
        }
    }
    return map;
}

}  // namespace tracemill
