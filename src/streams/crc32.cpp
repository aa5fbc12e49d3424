// CRC-32 tables (computed at compile time) and the byte and block updates.
#include "streams/crc32.h"

#include <array>

namespace tracemill {

namespace {

using Crc32Table = std::array<uint32_t, 256>;

// tables[0] is the standard reflected table; tables[k][i] is the register
// after folding byte i followed by k zero bytes, which lets eight bytes be
// folded with eight independent look-ups.
constexpr std::array<Crc32Table, 8> make_tables() {
    std::array<Crc32Table, 8> tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        tables[0][i] = r;
    }
    for (size_t k = 1; k < 8; ++k) {
        for (size_t i = 0; i < 256; ++i) {
            const uint32_t prev = tables[k - 1][i];
            tables[k][i] = (prev >> 8) ^ tables[0][prev & 0xFFu];
        }
    }
    return tables;
}

constexpr std::array<Crc32Table, 8> kTables = make_tables();

static_assert(kTables[0][1] == 0x77073096u, "reflected table entry 1");
static_assert(kTables[0][255] == 0x2D02EF8Du, "reflected table entry 255");

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t crc32_update(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ kTables[0][(reg ^ byte) & 0xFFu];
}

uint32_t crc32_update_block(uint32_t reg, const uint8_t* bytes, size_t n) {
    while (n >= 8) {
        const uint32_t low = load_le32(bytes) ^ reg;
        const uint32_t high = load_le32(bytes + 4);
        reg = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^ kTables[5][(low >> 16) & 0xFFu] ^
              kTables[4][low >> 24] ^ kTables[3][high & 0xFFu] ^ kTables[2][(high >> 8) & 0xFFu] ^
              kTables[1][(high >> 16) & 0xFFu] ^ kTables[0][high >> 24];
        bytes += 8;
        n -= 8;
    }
    while (n-- > 0) reg = (reg >> 8) ^ kTables[0][(reg ^ *bytes++) & 0xFFu];
    return reg;
}

}  // namespace tracemill
