// TX and MD blocks: a text (plain or XML) filling the data section.
#include "common/log.h"
#include "mdf/block_reader.h"
#include "streams/field_reader.h"

namespace tracemill {

bool TextBlock::begin_load(ByteStream* stream, BlockCache& cache, const BlockHeader& h, std::vector<uint64_t>&, uint64_t&) {
    if (h.link_count != 0) return false;
    header = h;
    if (h.length < kBlockHeaderSize) return false;
    const uint64_t size = h.length - kBlockHeaderSize;
    if (size == 0) return true;

    // Never size a buffer by a length the file cannot hold.
    const uint64_t data_start = file_offset + kBlockHeaderSize;
    if (data_start > cache.stream_size() || size > cache.stream_size() - data_start) {
        TM_LOG(kError, "Block at offset %llu extends beyond the end of the file",
               static_cast<unsigned long long>(file_offset));
        return false;
    }
    if (size > cache.text_budget) {
        TM_LOG(kError, "Text blocks of the file hold more text than the file can, at offset %llu",
               static_cast<unsigned long long>(file_offset));
        return false;
    }
    cache.text_budget -= size;
    FieldReader fields = FieldReader::at(stream);
    if (!fields.read_text(text, size)) return false;

    // Fill zeros behind the text vanish; a text that starts with a zero byte
    // is kept whole, zeros included.
    if (text[0] != '\0') {
        const size_t end = text.find('\0');
        if (end != std::string::npos) text.resize(end);
    }
    return true;
}

}  // namespace tracemill
