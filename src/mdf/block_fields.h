// Field reads shared by the block loaders: signed and floating-point fields
// on top of the unsigned little-endian reads.
#pragma once

#include <bit>
#include <cstdint>

#include "streams/field_reader.h"

namespace tracemill {

inline bool read_i16(FieldReader& fields, int16_t& value) {
    uint16_t raw = 0;
    if (!fields.read_u16(raw)) return false;
    value = static_cast<int16_t>(raw);
    return true;
}

inline bool read_f64(FieldReader& fields, double& value) {
    uint64_t raw = 0;
    if (!fields.read_u64(raw)) return false;
    value = std::bit_cast<double>(raw);
    return true;
}

}  // namespace tracemill
