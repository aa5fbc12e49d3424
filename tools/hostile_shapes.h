// Hostile shapes: small crafted files that cost a careless reader far more
// memory, time or output than their size, most of them by sharing one
// sub-graph of blocks many times over. One builder per shape; `scale` is the
// shape's size knob (levels, blocks, bytes: see each builder), so a test can
// build a small instance and the command-line tool one of the size that
// shows the blow-up on a reader without bounds.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tracemill::tools {

// A crafted file: its bytes, and how it is to be written.
struct HostileFile {
    std::vector<uint8_t> bytes;
    std::string suffix = ".mf4";  // the input name's suffix: ".mf4", ".mfc", ".mfe"
    std::string password;         // for encrypted files: the password of device 0
    uint64_t sparse_size = 0;     // > bytes.size(): the file is extended with a hole to this size
};

// 1: channel W(k) composes X(k) and Y(k), both composing W(k-1), down to a
// leaf W(0): 2^levels leaves from 3·levels+1 channel blocks.
HostileFile shared_composition(uint64_t levels);
// 2: `histories` file-history blocks whose comments are distinct MD blocks
// nested 24 bytes apart, each running to the end of the file.
HostileFile overlapping_texts(uint64_t histories);
// 3: a compressed file inside a compressed file; the inner one holds
// `zero_bytes` zeros.
HostileFile nested_compression(uint64_t zero_bytes);
// 3: one compressed layer holding `zero_bytes` zeros (ratio about 2300).
HostileFile high_ratio_compression(uint64_t zero_bytes);
// 4: header XML: `depth` nested property trees with 100-byte names, then
// as many distinct entries at the deepest level as the nesting has bytes.
HostileFile deep_header_xml(uint64_t depth);
// 5: `sources` bus sources of one channel group sharing one XML comment of
// properties (about 60 KB, nested 250 trees deep).
HostileFile shared_source_comment(uint64_t sources);
// 6: `data_groups` data groups, each with an empty data block of its own,
// linking one channel group of as many channels (8000 at most).
HostileFile shared_channel_group(uint64_t data_groups);
// 7: `groups` channel groups whose record ids are k·2^32, one record each.
HostileFile colliding_record_ids(uint64_t groups);
// 8: `data_groups` data groups sharing one channel group and one data block
// of `data_groups` CAN frames.
HostileFile shared_data_block(uint64_t data_groups);
// 9: an encrypted file asking for `rounds` PBKDF2 rounds.
HostileFile expensive_key_derivation(uint64_t rounds);
// 10: a small log whose last data block declares a length up to
// `sparse_size`, the file extended to that size by a hole.
HostileFile sparse_file(uint64_t sparse_size);
// 11 (no hostile shape, a legitimate one): `channels` channels sharing one
// value-table conversion of 32000 entries; a reader that copies the table
// per channel needs about 1 MB per channel.
HostileFile shared_conversion(uint64_t channels);

struct HostileShape {
    int number;
    const char* name;
    HostileFile (*build)(uint64_t scale);
    uint64_t issue_scale;  // shows the blow-up on a reader without bounds
    uint64_t test_scale;   // still beyond every bound, and quick once bounded
};

// Every shape, in number order (shape 3 has two rows).
std::span<const HostileShape> hostile_shapes();

// Writes the file at `path`, extended by a hole when sparse; false on failure.
bool write_hostile_file(const HostileFile& file, const std::string& path);

// A small valid log with serial `serial`, for "the next file still converts".
std::vector<uint8_t> small_valid_log(const std::string& serial, uint64_t frames = 40);

}  // namespace tracemill::tools
