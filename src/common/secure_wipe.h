// Overwriting secrets (passwords, keys, decrypted bytes) with zeros in a way
// the compiler may not drop as a store nobody reads.
#pragma once

#include <cstddef>

namespace tracemill {

void secure_wipe(void* bytes, size_t size);

}  // namespace tracemill
