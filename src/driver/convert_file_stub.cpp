// Temporary stand-in until the conversion pipeline lands. The pipeline replaces this file.
#include "driver/conversion_context.h"

namespace tracemill {

int convert_file(ConversionContext&, std::string_view, std::string_view) { return 8; }

}  // namespace tracemill
