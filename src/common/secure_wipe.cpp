// The C library's wipe that the optimiser keeps.
#include "common/secure_wipe.h"

#include <string.h>  // explicit_bzero

namespace tracemill {

void secure_wipe(void* bytes, size_t size) { explicit_bzero(bytes, size); }

}  // namespace tracemill
