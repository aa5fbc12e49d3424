// Block layout for the synthetic MDF4 writer.
//
// Blocks are collected as data (identifier, links, data section), placed one
// after the other on 8-byte boundaries behind the 64-byte ID block, and their
// links are resolved to absolute offsets once every block has its place. The
// little-endian field writers used to fill data sections and records live here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hash_map.h"

namespace tracemill::tools {

inline constexpr uint64_t kIdBlockSize = 64;
inline constexpr uint64_t kBlockHeaderSize = 24;

// Little-endian field writers over a byte vector.
inline void put_le(std::vector<uint8_t>& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void put_u8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
inline void put_u16(std::vector<uint8_t>& out, uint16_t v) { put_le(out, v, 2); }
inline void put_u32(std::vector<uint8_t>& out, uint32_t v) { put_le(out, v, 4); }
inline void put_u64(std::vector<uint8_t>& out, uint64_t v) { put_le(out, v, 8); }
inline void put_f64(std::vector<uint8_t>& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put_u64(out, bits);
}
inline void put_zeros(std::vector<uint8_t>& out, size_t count) { out.insert(out.end(), count, 0); }
inline void put_text(std::vector<uint8_t>& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Writes `value` into `record` as a little-endian bit field of `bit_count`
// bits starting at `bit_position` (bit 0 = least significant bit of byte 0).
// Bits outside the record are dropped.
void put_bits(std::span<uint8_t> record, uint64_t bit_position, uint32_t bit_count, uint64_t value);
void put_f64_at(std::span<uint8_t> record, size_t byte_offset, double value);

// Reads a little-endian integer of `width` bytes at `offset`; 0 when out of range.
uint64_t get_le(std::span<const uint8_t> bytes, uint64_t offset, size_t width);

// Where a link points: nowhere (0 in the file), at another block of the
// layout, or at a raw offset written as given.
struct LinkTarget {
    enum class Kind { Nil, Block, Raw };
    Kind kind = Kind::Nil;
    uint64_t value = 0;  // block index for Block, the offset for Raw

    static LinkTarget nil() { return {}; }
    static LinkTarget block(size_t index) { return {Kind::Block, index}; }
    static LinkTarget raw(uint64_t offset) { return {Kind::Raw, offset}; }
};

struct LayoutBlock {
    std::string id;                    // four characters, "##XX"
    std::vector<LinkTarget> links;     // link section, in order
    std::string name;                  // lookup name, empty for anonymous blocks
    std::vector<uint8_t> data;         // data section, owned
    std::span<const uint8_t> borrowed; // data section, borrowed from the FileSpec (large DT/SD data)
    std::optional<uint64_t> length_field;      // written instead of the true length
    std::optional<uint64_t> link_count_field;  // written instead of links.size()
    uint64_t offset = 0;               // assigned by place()
    uint64_t data_size() const { return data.size() + borrowed.size(); }
    uint64_t length() const { return kBlockHeaderSize + 8 * links.size() + data_size(); }
};

// Collects blocks, assigns their offsets and writes the file.
class MdfLayout {
public:
    // Adds a block and returns its index; `name` (optional) makes its offset
    // retrievable after placement and lets other links refer to it by name.
    size_t add(std::string_view id, size_t link_count, std::vector<uint8_t> data, std::string_view name = {});
    // Adds a block whose data section stays owned by the caller until emit().
    size_t add_borrowed(std::string_view id, std::span<const uint8_t> data, std::string_view name);

    LayoutBlock& block(size_t index) { return blocks_[index]; }
    const LayoutBlock& block(size_t index) const { return blocks_[index]; }
    size_t block_count() const { return blocks_.size(); }
    std::optional<size_t> find(std::string_view name) const;
    void set_link(size_t from, size_t link_index, LinkTarget target);

    // Assigns offsets in insertion order, 8-byte aligned, starting behind the ID block.
    // Returns the file size: the end of the last block (no padding behind it).
    uint64_t place();

    // Writes ID block and every placed block through `emit`, in file order.
    void emit(std::span<const uint8_t, kIdBlockSize> id_block,
              const std::function<void(const uint8_t*, size_t)>& emit) const;

private:
    uint64_t resolve(const LinkTarget& target) const;

    std::vector<LayoutBlock> blocks_;
    HashMap<std::string, size_t> by_name_;
};

}  // namespace tracemill::tools
