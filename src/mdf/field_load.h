// How a channel's bits come out of records of one known size, worked out once
// when a channel group's decoders are built.
//
// The general bit reader checks the field against the record and picks its
// way on every call; for a record size fixed by the channel group all of that
// is decided beforehand, and a read is one 8-byte load and two shifts. A load
// planned for another size than the record at hand is not used.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "mdf/bit_reader.h"

namespace tracemill {

struct FieldLoad {
    enum class Method : uint8_t {
        BitReader,  // not planned: the general bit reader reads the field
        Word,       // value = (word << left) >> right, word at `byte`
        Zero,       // the field does not fit the record: it reads as 0
    };
    Method method = Method::BitReader;
    bool big_endian = false;  // the word is taken most significant byte first
    uint8_t left = 0;         // bits of the word above the field
    uint8_t right = 0;        // 64 - bit count
    uint16_t byte = 0;        // first byte of the 8-byte word holding the field
};
static_assert(sizeof(FieldLoad) == 6, "kept small: many are read per record");

// The plan that reads what read_bits(view of `record_size` bytes, ...) reads.
inline FieldLoad plan_field_load(uint64_t bit_position, uint64_t bit_count, bool little_endian,
                                 uint64_t record_size) {
    FieldLoad load;
    const uint64_t end_bit = bit_position + bit_count;
    if (bit_count == 0 || bit_count > 64 || end_bit < bit_position || (end_bit + 7) / 8 > record_size) {
        load.method = FieldLoad::Method::Zero;
        return load;
    }
    if (record_size < 8 || std::endian::native != std::endian::little) return load;  // bit reader
    const uint64_t byte = std::min<uint64_t>(bit_position / 8, record_size - 8);
    const uint64_t skip = bit_position - byte * 8;  // bits of the word before the field
    if (skip + bit_count > 64 || byte > UINT16_MAX) return load;  // far into huge records: bit reader
    load.method = FieldLoad::Method::Word;
    load.big_endian = !little_endian;
    load.byte = static_cast<uint16_t>(byte);
    // Little-endian fields count from the word's low end, big-endian ones from its top.
    load.left = static_cast<uint8_t>(little_endian ? 64 - skip - bit_count : skip);
    load.right = static_cast<uint8_t>(64 - bit_count);
    return load;
}

// The field's bits in a record of the size the load was planned for;
// `read_slow` is asked when no plan could be made.
template <typename ReadSlow>
inline uint64_t load_planned_field(const FieldLoad& load, const uint8_t* record, ReadSlow read_slow) {
    if (load.method == FieldLoad::Method::Word) {
        uint64_t word;
        std::memcpy(&word, record + load.byte, 8);
        if (load.big_endian) word = __builtin_bswap64(word);
        return (word << load.left) >> load.right;
    }
    if (load.method == FieldLoad::Method::Zero) return 0;
    return read_slow();
}

// The field's bits in `record`, of any size, by a load planned for records
// of `planned_size` bytes; `read_slow` is asked when the plan does not hold.
template <typename ReadSlow>
inline uint64_t load_field(const FieldLoad& load, uint64_t planned_size, std::span<const uint8_t> record,
                           ReadSlow read_slow) {
    // Word plans exist only for records of 8 bytes or more; saying so again
    // lets the compiler see that short records never load a word.
    if (record.size() != planned_size || (load.method == FieldLoad::Method::Word && record.size() < 8))
        return read_slow();
    return load_planned_field(load, record.data(), read_slow);
}

}  // namespace tracemill
