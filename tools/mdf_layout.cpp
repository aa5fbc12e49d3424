// Block placement, link resolution and byte emission for the synthetic MDF4 writer.
#include "mdf_layout.h"

namespace tracemill::tools {

void put_bits(std::span<uint8_t> record, uint64_t bit_position, uint32_t bit_count, uint64_t value) {
    for (uint32_t k = 0; k < bit_count && k < 64; ++k) {
        const uint64_t bit = bit_position + k;
        const uint64_t byte = bit / 8;
        if (byte >= record.size()) return;
        const auto mask = static_cast<uint8_t>(1u << (bit % 8));
        if ((value >> k) & 1) {
            record[byte] |= mask;
        } else {
            record[byte] &= static_cast<uint8_t>(~mask);
        }
    }
}

void put_f64_at(std::span<uint8_t> record, size_t byte_offset, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    put_bits(record, byte_offset * 8, 64, bits);
}

uint64_t get_le(std::span<const uint8_t> bytes, uint64_t offset, size_t width) {
    if (offset > bytes.size() || width > bytes.size() - offset || width > 8) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes[offset + i]} << (8 * i);
    return value;
}

size_t MdfLayout::add(std::string_view id, size_t link_count, std::vector<uint8_t> data, std::string_view name) {
    LayoutBlock block;
    block.id = std::string(id);
    block.id.resize(4, ' ');
    block.links.resize(link_count);
    block.data = std::move(data);
    block.name = std::string(name);
    blocks_.push_back(std::move(block));
    const size_t index = blocks_.size() - 1;
    if (!name.empty()) by_name_.insert(std::string(name), index);
    return index;
}

size_t MdfLayout::add_borrowed(std::string_view id, std::span<const uint8_t> data, std::string_view name) {
    const size_t index = add(id, 0, {}, name);
    blocks_[index].borrowed = data;
    return index;
}

std::optional<size_t> MdfLayout::find(std::string_view name) const {
    const size_t* index = by_name_.find(name);
    if (!index) return std::nullopt;
    return *index;
}

void MdfLayout::set_link(size_t from, size_t link_index, LinkTarget target) {
    auto& links = blocks_[from].links;
    if (link_index >= links.size()) links.resize(link_index + 1);
    links[link_index] = target;
}

uint64_t MdfLayout::place() {
    uint64_t offset = kIdBlockSize;
    uint64_t end = offset;
    for (auto& block : blocks_) {
        block.offset = offset;
        end = offset + block.length();
        offset = (end + 7) & ~uint64_t{7};
    }
    return end;
}

uint64_t MdfLayout::resolve(const LinkTarget& target) const {
    switch (target.kind) {
        case LinkTarget::Kind::Nil: return 0;
        case LinkTarget::Kind::Raw: return target.value;
        case LinkTarget::Kind::Block:
            return target.value < blocks_.size() ? blocks_[target.value].offset : 0;
    }
    return 0;
}

void MdfLayout::emit(std::span<const uint8_t, kIdBlockSize> id_block,
                     const std::function<void(const uint8_t*, size_t)>& emit) const {
    emit(id_block.data(), id_block.size());
    std::vector<uint8_t> head;
    static const uint8_t kPadding[8] = {};
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const LayoutBlock& block = blocks_[i];
        head.clear();
        put_text(head, block.id);
        put_zeros(head, 4);
        put_u64(head, block.length_field.value_or(block.length()));
        put_u64(head, block.link_count_field.value_or(block.links.size()));
        for (const auto& link : block.links) put_u64(head, resolve(link));
        emit(head.data(), head.size());
        if (!block.data.empty()) emit(block.data.data(), block.data.size());
        if (!block.borrowed.empty()) emit(block.borrowed.data(), block.borrowed.size());
        // Blocks start on 8-byte boundaries; the file ends with the last block,
        // as a logger's file does (an unfinalised file's last data runs to the end).
        const size_t padding = (8 - block.length() % 8) % 8;
        if (padding && i + 1 < blocks_.size()) emit(kPadding, padding);
    }
}

}  // namespace tracemill::tools
