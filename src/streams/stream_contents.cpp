// Finding the in-memory content behind a stream.
#include "streams/stream_contents.h"

#include "streams/buffered_stream.h"
#include "streams/decompressed_stream.h"
#include "streams/decrypted_stream.h"
#include "streams/memory_stream.h"

namespace tracemill {

const uint8_t* stream_contents(ByteStream* stream, uint64_t& size) {
    // Container layers hand out their memory stream; they may nest, but each
    // holds its content in a memory stream of its own.
    if (auto* decompressed = dynamic_cast<DecompressedStream*>(stream)) stream = decompressed->content();
    else if (auto* decrypted = dynamic_cast<DecryptedStream*>(stream)) stream = decrypted->content();
    if (auto* memory = dynamic_cast<MemoryStream*>(stream)) {
        size = memory->size();
        return memory->data();
    }
    if (auto* buffered = dynamic_cast<BufferedStream*>(stream)) return buffered->whole_contents(size);
    return nullptr;
}

}  // namespace tracemill
