// Reading a log file's logger identity and comparing it with the previous file's.
#include "driver/file_info.h"

#include "common/log.h"
#include "mdf/block_reader.h"
#include "mdf/metadata.h"

namespace tracemill {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

uint32_t parse_property_number(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

double start_time_seconds(uint64_t start_time_ns) { return static_cast<double>(start_time_ns / 1000) * 1e-6; }

FileRelation relate_to_previous(const FileInfo& previous, const FileInfo& current) {
    FileRelation relation;
    if (previous.serial.empty() || previous.serial != current.serial) return relation;
    // Unsigned arithmetic: the numbers wrap like the logger's counters.
    const uint32_t session = current.session, split = current.split;
    const uint32_t last_session = previous.session, last_split = previous.split;
    relation.repeated = session == last_session && split == last_split;
    // Within a session the splits count up by one. Across sessions the
    // recording goes on only where the previous split's low byte is 0 and this
    // one's is 1, both numbers having moved on by one.
    bool same_session = session == last_session && (split == last_split || split == last_split + 1);
    bool next_session = session == last_session + 1 && split == last_split + 1 && (last_split & 0xFF) == 0 &&
                        (split & 0xFF) == 1;
    relation.continuation = same_session || next_session;
    return relation;
}

bool read_file_info(const MdfFile& file, FileInfo& info) {
    info.serial.clear();
    info.start_time = 0;
    info.session = 0;
    info.split = 0;

    const IdBlock* id = file.id_block();
    const HdBlock* header = id ? block_as<HdBlock>(id->hd) : nullptr;
    if (!id) {
        TM_LOG(kError, "Could not read ID block");
    } else if (!header) {
        TM_LOG(kError, "Could not read HD block");
    } else {
        info.start_time = start_time_seconds(header->start_time_ns);
        MetadataMap metadata = read_header_metadata(file);
        // Visited in map order: of two entries with the same name the later one wins.
        metadata.for_each([&info](const std::string&, const MetadataEntry& entry) {
            if (entry.name == "serial number") {
                info.serial = entry.value;
            } else if (entry.name == "session") {
                info.session = parse_property_number(entry.value);
            } else if (entry.name == "split") {
                info.split = parse_property_number(entry.value);
            }
        });
    }
    return !info.serial.empty() && info.session != 0 && info.split != 0;
}

}  // namespace tracemill
