// Fuzz target: container detection plus heatshrink decompression of the
// whole input, as convert_file does for the first layer.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "streams/compressed_container.h"
#include "streams/container_header.h"
#include "streams/memory_stream.h"

using namespace tracemill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence_log();
    StreamPtr input = memory_stream_from(data, size);
    if (!input) return 0;
    ContainerHeader header;
    if (read_container_header(input.get(), header)) {
        StreamPtr content = open_decompressed_stream(input.get(), header);
        if (content) {
            // Read the content back to touch every byte the decoder produced.
            uint8_t chunk[4096];
            stream_seek(content.get(), 0, SEEK_SET);
            while (stream_read(content.get(), chunk, sizeof chunk) > 0) {
            }
        }
    }
    return 0;
}
