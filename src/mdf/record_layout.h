// Record layouts of a data group: for each record id, the size of its records
// and how they are decoded; and the raw record handed to a frame decoder.
#pragma once

#include <cstdint>
#include <span>

#include "common/hash_map.h"
#include "mdf/channel_decoder.h"

namespace tracemill {

struct DgBlock;
struct DataBlock;
class GroupPlans;

// Where a record's variable-length signal data comes from.
enum class SignalSource : uint8_t {
    None,       // no channel has a signal data reference
    SdBlock,    // entries of an SD block, addressed by the channel's value
    VlsdGroup,  // the next record of a VLSD channel group in the same data block
    Other,      // a reference to something else: an empty entry
};

struct RecordLayout {
    uint64_t record_id = 0;
    int32_t record_size = 0;  // bytes after the record id; -1 for a VLSD group
    uint64_t cycle_count = 0; // records the channel group says it has
    const ChannelDecoderList* decoders = nullptr;  // none for a VLSD group
    const ChannelReadPlan* read_plan = nullptr;    // none for a VLSD group
    FrameDecoder frame_decoder = nullptr;          // none for a VLSD group

    // Resolved once so the reader does not look anything up per record.
    SignalSource signal_source = SignalSource::None;
    int32_t signal_decoder = -1;        // index of the decoder with the reference
    FieldLoad signal_load;              // its entry offset in records of record_size
    DataBlock* signal_block = nullptr;  // for SdBlock
    uint64_t vlsd_record_id = 0;        // for VlsdGroup
};

// Record ids are chosen by whoever wrote the file: looked up with the mixed hash.
using RecordLayouts = HashMap<FileKey, RecordLayout>;

// Fills `layouts` with those of the data group's channel groups, taking their
// plans from `plans`. A channel group whose plan cannot be made (no memory)
// stops registration, as a repeated record id does.
bool prepare_record_layouts(const DgBlock& group, GroupPlans& plans, RecordLayouts& layouts);

// What a record reader hands to a frame decoder.
struct RawRecord {
    std::span<const uint8_t> record;  // fixed record bytes, record id excluded
    std::span<const uint8_t> signal;  // empty, or u32 length L then L bytes
    const ChannelDecoderList* decoders = nullptr;
    // How the decoders' channels are read, when that was worked out for the
    // group; frame decoders use it only for records of its size.
    const ChannelReadPlan* read_plan = nullptr;
};

}  // namespace tracemill
