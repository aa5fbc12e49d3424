// Recognition of the container header at the start of a stream.
#include "streams/container_header.h"

#include <cstring>

#include "streams/field_reader.h"

namespace tracemill {

bool read_container_header(ByteStream* stream, ContainerHeader& header) {
    // A stream that cannot go back to its start cannot show a header there.
    if (!stream || stream_seek(stream, 0, kSeekSet) != 0) return false;
    FieldReader fields = FieldReader::at(stream);
    const bool complete = fields.read_bytes(header.magic, sizeof header.magic) &&
                          fields.read_u8(header.check_flag) && fields.read_u8(header.footer_flag) &&
                          fields.read_u8(header.container_type) && fields.read_u8(header.format_version) &&
                          fields.read_u32_be(header.device_id);
    if (!complete) return false;
    return std::memcmp(header.magic, kContainerMagic.data(), sizeof header.magic) == 0;
}

}  // namespace tracemill
