// Printf-exact number fields for text output: each writer produces exactly the
// bytes of the printf conversion named next to it, and writes nothing past them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracemill {

// The field writers write exactly the bytes of their field and return its end.

// "%*d": `value` right-aligned in `width` characters.
char* put_decimal(char* out, int32_t value, int width);
// "%0*X": upper-case hexadecimal, zero-padded to `digits`, longer values in full.
char* put_hex(char* out, uint32_t value, int digits);
// "%*.*f": `value` with `precision` decimals right-aligned in `width` characters.
char* put_fixed(char* out, double value, int precision, int width);
// Data bytes as upper-case hexadecimal pairs separated by single spaces.
char* put_data_bytes(char* out, const uint8_t* bytes, size_t count);

}  // namespace tracemill
