// Temporary stand-in until the block reader lands: every open fails.
// The block reader replaces this file.
#include "mdf/mdf_file.h"

namespace tracemill {

struct MdfFile {};
void MdfFileDeleter::operator()(MdfFile* file) const { delete file; }
MdfFilePtr open_mdf(ByteStream*) { return nullptr; }

}  // namespace tracemill
