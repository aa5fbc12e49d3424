// ASCII traces as an output format.
#include "asc/asc_format.h"

#include "asc/asc_writer.h"

namespace tracemill {

std::unique_ptr<OutputSink> AscFormat::new_sink(FileSystemRoot& output_root, bool durable) {
    return asc_writer_new(&output_root, durable);
}

}  // namespace tracemill
