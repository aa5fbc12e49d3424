// The system's wipe that the optimiser keeps.
#include "common/secure_wipe.h"

#include <windows.h>

namespace tracemill {

void secure_wipe(void* bytes, size_t size) { SecureZeroMemory(bytes, size); }

}  // namespace tracemill
