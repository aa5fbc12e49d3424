// In-memory form of the MDF4 blocks this reader understands.
//
// Every block starts with the 24-byte header {id "##XY", reserved u32, length
// u64, link count u64}, then link_count u64 absolute offsets (0 = no block),
// then its data section. Each struct below lists its links and data fields in
// file order, next to the loader that reads them (the *_block.cpp files).
// Blocks are shared through BlockRef; a parent holds references to its
// children, never the other way round.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/hash_map.h"
#include "mdf/channel_decoder.h"
#include "mdf/record_layout.h"
#include "streams/byte_stream.h"

namespace tracemill {

// A link that points nowhere. Offset 0 in the file is turned into this.
inline constexpr uint64_t kNilLink = ~uint64_t{0};

// Numbering is fixed; 0 means "no block".
enum class BlockKind : uint32_t {
    None = 0,
    ID = 1,
    CC = 2,
    CG = 3,
    CN = 4,
    DG = 5,
    DT = 6,
    FH = 7,
    HD = 8,
    MD = 9,
    SD = 10,
    SI = 11,
    TX = 12,
};

inline constexpr uint64_t kBlockHeaderSize = 24;

struct BlockHeader {
    BlockKind kind = BlockKind::None;
    uint64_t length = 0;
    uint64_t link_count = 0;
};

struct MdfBlock;
class BlockCache;
class BlockSet;
using BlockRef = std::shared_ptr<MdfBlock>;
// Sibling chains and child lists, in chain order (first block first).
using BlockList = std::vector<BlockRef>;

// The part every block kind shares; the virtual functions are the kind's
// operation table (begin_load/finish_load, collect_refs; release is the
// destructor, with drop_refs to dismantle large graphs).
struct MdfBlock {
    BlockHeader header;
    uint64_t file_offset = kNilLink;  // where the block was read; nil until loaded

    MdfBlock() = default;
    MdfBlock(const MdfBlock&) = delete;
    MdfBlock& operator=(const MdfBlock&) = delete;
    virtual ~MdfBlock() = default;

    BlockKind kind() const { return header.kind; }

    // A load runs in two steps so the block reader can walk sibling chains
    // without recursion: first every member of a chain is begun, front to
    // back, then every member is finished, back to front (a block's load
    // includes its later siblings).
    //
    // begin_load checks the header and reads the link section, handing back
    // the next-sibling link (chain kinds) unfollowed. `stream` stands just
    // behind the header (at the block start for ID). Kinds without links load
    // completely here.
    virtual bool begin_load(ByteStream* stream, BlockCache& cache, const BlockHeader& header,
                            std::vector<uint64_t>& links, uint64_t& next_sibling) = 0;
    // Follows the other links and reads the data section.
    virtual bool finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) {
        (void)stream, (void)cache, (void)links;
        return true;
    }

    // Appends every block this one references: single references first, then
    // list members, in the kind's visiting order.
    virtual void collect_refs(std::vector<const MdfBlock*>& out) const { (void)out; }

    // Moves every reference this block holds into `out`, so a graph can be
    // torn down without one destructor recursing into the next.
    virtual void drop_refs(std::vector<BlockRef>& out) { (void)out; }
};

// The first load step shared by every kind with links: exact link count, a
// length that covers the link section, the links themselves (0 becomes nil).
bool begin_block_load(MdfBlock& block, ByteStream* stream, const BlockHeader& header, uint64_t required_links,
                      std::vector<uint64_t>& links);

// A kind with exactly `kLinks` links; when `kChained`, link 0 is the next
// sibling of a chain.
template <uint64_t kLinks, bool kChained>
struct LinkedBlock : MdfBlock {
    static constexpr uint64_t kLinkCount = kLinks;

    bool begin_load(ByteStream* stream, BlockCache&, const BlockHeader& header, std::vector<uint64_t>& links,
                    uint64_t& next_sibling) override {
        if (!begin_block_load(*this, stream, header, kLinks, links)) return false;
        if constexpr (kChained) next_sibling = links[0];
        return true;
    }

    int64_t data_start() const { return static_cast<int64_t>(file_offset + kBlockHeaderSize + 8 * kLinks); }
};

// ID: 64 bytes at offset 0, no block header.
//   0 file identifier (8)  8 version text (8)  16 program id (8)  24 reserved (4)
//   28 u16 version  30 reserved (30)  60 u16 unfinalized flags  62 u16 custom flags
struct IdBlock final : MdfBlock {
    static constexpr BlockKind kKind = BlockKind::ID;
    static constexpr uint16_t kUnfinalizedDataLength = 4;  // last DT length still to be set

    std::string version_text;  // the 8 bytes as read
    std::string program_id;    // the 8 bytes as read
    uint16_t version = 0;
    uint16_t unfinalized_flags = 0;
    uint16_t custom_unfinalized_flags = 0;
    BlockRef hd;  // the block at offset 64, set by open_mdf

    bool begin_load(ByteStream*, BlockCache&, const BlockHeader&, std::vector<uint64_t>&, uint64_t&) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// HD, 6 links: first DG, first FH, channel hierarchy, attachment, event, comment.
// Data: u64 start_time_ns, i16 tz, i16 dst, u8 time_flags, u8 time_class,
// u8 flags, reserved (1), f64 start angle, f64 start distance.
struct HdBlock final : LinkedBlock<6, false> {
    static constexpr BlockKind kKind = BlockKind::HD;

    BlockList data_groups;
    BlockList file_history;
    BlockRef comment;
    uint64_t start_time_ns = 0;
    int16_t tz_offset_min = 0;
    int16_t dst_offset_min = 0;
    uint8_t time_flags = 0;
    uint8_t time_class = 0;
    uint8_t flags = 0;
    double start_angle_rad = 0;
    double start_distance_m = 0;

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// FH, 2 links: next FH, comment. Data: u64 time_ns, i16 tz, i16 dst, u8 time_flags.
struct FhBlock final : LinkedBlock<2, true> {
    static constexpr BlockKind kKind = BlockKind::FH;

    BlockRef comment;
    uint64_t time_ns = 0;
    int16_t tz_offset_min = 0;
    int16_t dst_offset_min = 0;
    uint8_t time_flags = 0;

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// TX (plain text) and MD (XML), no links: the data section is the text.
struct TextBlock final : MdfBlock {
    std::string text;

    bool begin_load(ByteStream*, BlockCache&, const BlockHeader&, std::vector<uint64_t>&, uint64_t&) override;
};

// DG, 4 links: next DG, first CG, data block, comment. Data: u8 record_id_size.
struct DgBlock final : LinkedBlock<4, true> {
    static constexpr BlockKind kKind = BlockKind::DG;

    BlockList channel_groups;
    BlockRef data;  // a DT block; other kinds are passed over by the readers
    BlockRef comment;
    uint8_t record_id_size = 0;
    RecordLayouts record_layouts;  // filled by prepare_record_layouts

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// CG, 6 links: next CG, first CN, acquisition name, acquisition source,
// first sample reduction (must be nil), comment.
// Data: u64 record_id, u64 cycle_count, u16 flags, u16 path_separator,
// reserved (4), u32 data_bytes, u32 inval_bytes.
struct CgBlock final : LinkedBlock<6, true> {
    static constexpr BlockKind kKind = BlockKind::CG;
    static constexpr uint16_t kFlagVlsd = 1;  // records carry variable-length signal data

    BlockList channels;
    BlockRef acq_name;
    BlockRef acq_source;
    BlockRef comment;
    uint64_t record_id = 0;
    uint64_t cycle_count = 0;
    uint16_t flags = 0;
    uint16_t path_separator = 0;
    uint32_t data_bytes = 0;
    uint32_t inval_bytes = 0;
    ChannelDecoderList decoders;  // built by build_channel_decoders
    ChannelReadPlan read_plan;    // made with the decoders
    FrameDecoder frame_decoder = nullptr;

    bool is_vlsd() const { return (flags & kFlagVlsd) != 0; }

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// CN, 8 links: next CN, composition, name, source, conversion, signal data,
// unit, comment. Data (72 bytes): u8 channel_type, u8 sync_type, u8 data_type,
// u8 bit_offset, u32 byte_offset, u32 bit_count, u32 flags, u32 inval_bit_pos,
// u8 precision, reserved (1), u16 attachment_count, then six f64 ranges/limits.
struct CnBlock final : LinkedBlock<8, true> {
    static constexpr BlockKind kKind = BlockKind::CN;
    static constexpr uint8_t kTypeVariableLength = 1;

    BlockList composition;
    BlockRef name;
    BlockRef source;
    BlockRef conversion;
    BlockRef data;
    BlockRef unit;
    BlockRef comment;
    uint8_t channel_type = 0;
    uint8_t sync_type = 0;
    uint8_t data_type = 0;
    uint8_t bit_offset = 0;
    uint32_t byte_offset = 0;
    uint32_t bit_count = 0;
    uint32_t flags = 0;
    uint32_t inval_bit_pos = 0;
    uint8_t precision = 0;
    uint16_t attachment_count = 0;
    double val_range_min = 0;
    double val_range_max = 0;
    double limit_min = 0;
    double limit_max = 0;
    double limit_ext_min = 0;
    double limit_ext_max = 0;

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// CC, 4 links: name, unit, comment, inverse. Data: u8 conversion_type,
// u8 precision, u16 flags, u16 ref_count, u16 val_count, f64 phy_range_min,
// f64 phy_range_max, val_count × f64 values.
struct CcBlock final : LinkedBlock<4, false> {
    static constexpr BlockKind kKind = BlockKind::CC;

    BlockRef name;
    BlockRef unit;
    BlockRef comment;
    BlockRef inverse;
    uint8_t conversion_type = 0;
    uint8_t precision = 0;
    uint16_t flags = 0;
    uint16_t ref_count = 0;
    uint16_t val_count = 0;
    double phy_range_min = 0;
    double phy_range_max = 0;
    std::vector<double> values;  // exactly val_count entries, file order

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

enum class SourceKind : uint8_t { Other, Bus };
enum class BusKind : uint8_t { None, Can, Lin, Other };

// SI, 3 links: name, path, comment. Data: u8 source_type, u8 bus_type, u8 flags.
struct SiBlock final : LinkedBlock<3, false> {
    static constexpr BlockKind kKind = BlockKind::SI;

    BlockRef name;
    BlockRef path;
    BlockRef comment;
    uint8_t source_type = 0;
    uint8_t bus_type = 0;
    uint8_t flags = 0;

    SourceKind source_kind() const { return source_type == 2 ? SourceKind::Bus : SourceKind::Other; }
    BusKind bus_kind() const {
        switch (bus_type) {
            case 0: return BusKind::None;
            case 2: return BusKind::Can;
            case 3: return BusKind::Lin;
            default: return BusKind::Other;
        }
    }

    bool finish_load(ByteStream*, BlockCache&, const std::vector<uint64_t>& links) override;
    void collect_refs(std::vector<const MdfBlock*>& out) const override;
    void drop_refs(std::vector<BlockRef>& out) override;
};

// DT and SD: the whole block behind the 24-byte header is data, left unread
// at load time. The block is itself a read-only stream over that data
// section (write and close stay absent). The stream it was read from is
// borrowed, never closed through the block.
struct DataBlock final : MdfBlock, ByteStream {
    uint64_t data_start = 0;  // stream position directly behind the header
    uint64_t position = 0;    // read position within the data section
    ByteStream* source = nullptr;
    // Set when the source holds the whole file in memory: lets readers take
    // bytes by pointer instead of calling read per field.
    const uint8_t* source_memory = nullptr;
    uint64_t source_memory_size = 0;
    uint64_t source_size = 0;  // of the whole stream: where the file's data ends

    // length − 24, or 0 for a shorter block.
    uint64_t data_size() const { return header.length > kBlockHeaderSize ? header.length - kBlockHeaderSize : 0; }

    // The data section as contiguous bytes, or nullptr when the source is not
    // held in memory. Only the first direct_size() bytes are there (a length
    // that claims more than the file holds is cut at the end of the file).
    const uint8_t* direct_data() const {
        return source_memory && data_start <= source_memory_size ? source_memory + data_start : nullptr;
    }
    uint64_t direct_size() const {
        if (!direct_data()) return 0;
        const uint64_t available = source_memory_size - data_start;
        return data_size() < available ? data_size() : available;
    }

    int64_t read(void* dst, uint64_t count) override;
    int64_t tell() override { return static_cast<int64_t>(position); }
    int64_t seek(int64_t offset, int32_t whence) override;

    bool begin_load(ByteStream*, BlockCache&, const BlockHeader&, std::vector<uint64_t>&, uint64_t&) override;
};

// Typed access: the block when it is present and of that kind, else nullptr.
// A reference to a block of an unexpected kind thus behaves like an empty one.
template <class T>
T* block_as(MdfBlock* block, BlockKind kind) {
    return block && block->kind() == kind ? static_cast<T*>(block) : nullptr;
}

inline IdBlock* as_id(MdfBlock* b) { return block_as<IdBlock>(b, BlockKind::ID); }
inline HdBlock* as_hd(MdfBlock* b) { return block_as<HdBlock>(b, BlockKind::HD); }
inline FhBlock* as_fh(MdfBlock* b) { return block_as<FhBlock>(b, BlockKind::FH); }
inline DgBlock* as_dg(MdfBlock* b) { return block_as<DgBlock>(b, BlockKind::DG); }
inline CgBlock* as_cg(MdfBlock* b) { return block_as<CgBlock>(b, BlockKind::CG); }
inline CnBlock* as_cn(MdfBlock* b) { return block_as<CnBlock>(b, BlockKind::CN); }
inline CcBlock* as_cc(MdfBlock* b) { return block_as<CcBlock>(b, BlockKind::CC); }
inline SiBlock* as_si(MdfBlock* b) { return block_as<SiBlock>(b, BlockKind::SI); }
inline TextBlock* as_tx(MdfBlock* b) { return block_as<TextBlock>(b, BlockKind::TX); }
inline TextBlock* as_md(MdfBlock* b) { return block_as<TextBlock>(b, BlockKind::MD); }
inline DataBlock* as_dt(MdfBlock* b) { return block_as<DataBlock>(b, BlockKind::DT); }
inline DataBlock* as_sd(MdfBlock* b) { return block_as<DataBlock>(b, BlockKind::SD); }

inline IdBlock* as_id(const BlockRef& r) { return as_id(r.get()); }
inline HdBlock* as_hd(const BlockRef& r) { return as_hd(r.get()); }
inline FhBlock* as_fh(const BlockRef& r) { return as_fh(r.get()); }
inline DgBlock* as_dg(const BlockRef& r) { return as_dg(r.get()); }
inline CgBlock* as_cg(const BlockRef& r) { return as_cg(r.get()); }
inline CnBlock* as_cn(const BlockRef& r) { return as_cn(r.get()); }
inline CcBlock* as_cc(const BlockRef& r) { return as_cc(r.get()); }
inline SiBlock* as_si(const BlockRef& r) { return as_si(r.get()); }
inline TextBlock* as_tx(const BlockRef& r) { return as_tx(r.get()); }
inline TextBlock* as_md(const BlockRef& r) { return as_md(r.get()); }
inline DataBlock* as_dt(const BlockRef& r) { return as_dt(r.get()); }
inline DataBlock* as_sd(const BlockRef& r) { return as_sd(r.get()); }

inline const IdBlock* as_id(const MdfBlock* b) { return as_id(const_cast<MdfBlock*>(b)); }
inline const HdBlock* as_hd(const MdfBlock* b) { return as_hd(const_cast<MdfBlock*>(b)); }
inline const FhBlock* as_fh(const MdfBlock* b) { return as_fh(const_cast<MdfBlock*>(b)); }
inline const DgBlock* as_dg(const MdfBlock* b) { return as_dg(const_cast<MdfBlock*>(b)); }
inline const CgBlock* as_cg(const MdfBlock* b) { return as_cg(const_cast<MdfBlock*>(b)); }
inline const CnBlock* as_cn(const MdfBlock* b) { return as_cn(const_cast<MdfBlock*>(b)); }
inline const CcBlock* as_cc(const MdfBlock* b) { return as_cc(const_cast<MdfBlock*>(b)); }
inline const SiBlock* as_si(const MdfBlock* b) { return as_si(const_cast<MdfBlock*>(b)); }
inline const TextBlock* as_tx(const MdfBlock* b) { return as_tx(const_cast<MdfBlock*>(b)); }
inline const TextBlock* as_md(const MdfBlock* b) { return as_md(const_cast<MdfBlock*>(b)); }
inline const DataBlock* as_dt(const MdfBlock* b) { return as_dt(const_cast<MdfBlock*>(b)); }
inline const DataBlock* as_sd(const MdfBlock* b) { return as_sd(const_cast<MdfBlock*>(b)); }

}  // namespace tracemill
