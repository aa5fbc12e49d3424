// Fuzz target: decryption of encrypted containers with a fixed password,
// copying and in place.
// Inputs whose PBKDF2 round count exceeds kFuzzMaxIterations are passed over:
// key derivation cost grows linearly with it and would slow the search to a
// crawl without reaching any other code (the converter's own cap is tested
// separately through the binary).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "streams/container_header.h"
#include "streams/encrypted_container.h"
#include "streams/memory_stream.h"

using namespace tracemill;

namespace {
constexpr uint32_t kFuzzMaxIterations = 16;
constexpr size_t kIterationOffset = 32;
constexpr char kPassword[] = "fuzz-password";

uint32_t iteration_field(const uint8_t* data, size_t size) {
    if (size < kIterationOffset + 4) return 0;
    const uint8_t* p = data + kIterationOffset;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silence_log();
    if (iteration_field(data, size) > kFuzzMaxIterations) return -1;  // not added to the corpus
    StreamPtr input = memory_stream_from(data, size);
    if (!input) return 0;
    ContainerHeader header;
    if (read_container_header(input.get(), header)) {
        // Copied out, then (as the converter does) in the input's own memory;
        // each content is released at once.
        open_decrypted_stream(input.get(), header, kPassword);
        open_decrypted_in_place(input.get(), header, kPassword);
    }
    return 0;
}
