// The identification block: 64 bytes at offset 0 that mark an MDF4 file.
#include <cstring>

#include "mdf/block_reader.h"
#include "streams/field_reader.h"

namespace tracemill {

bool IdBlock::begin_load(ByteStream* stream, BlockCache&, const BlockHeader& h, std::vector<uint64_t>&, uint64_t&) {
    FieldReader fields = FieldReader::at(stream);
    std::string identifier;
    if (!fields.read_text(identifier, 8)) return false;
    if (identifier != "MDF     " && identifier != "UnFinMF ") return false;
    header = h;

    // The rest is informational: a short file still has its identifier, and
    // the header block at offset 64 decides whether it can be opened.
    (void)(fields.read_text(version_text, 8) && fields.read_text(program_id, 8) && fields.skip(4) &&
        fields.read_u16(version) && fields.skip(30) && fields.read_u16(unfinalized_flags) &&
        fields.read_u16(custom_unfinalized_flags));
    return true;
}

void IdBlock::collect_refs(std::vector<const MdfBlock*>& out) const {
    if (hd) out.push_back(hd.get());
}

void IdBlock::drop_refs(std::vector<BlockRef>& out) {
    if (hd) out.push_back(std::move(hd));
}

}  // namespace tracemill
