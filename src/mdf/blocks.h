// In-memory form of the MDF4 blocks this reader understands.
//
// Every block starts with the 24-byte header {id "##XY", reserved u32, length
// u64, link count u64}, then link_count u64 absolute offsets (0 = no block),
// then its data section. Each struct below lists its links and data fields in
// file order, next to the loader that reads them (the *_block.cpp files).
// Blocks are shared through BlockRef; a parent holds references to its
// children, never the other way round. Blocks hold what is on disk and
// nothing else: how records are decoded is worked out from them later.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "streams/byte_stream.h"
#include "streams/field_reader.h"

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

    // Appends every block this one references, in the order of the kind's
    // links (members of a list in list order).
    virtual void collect_refs(std::vector<const MdfBlock*>& out) const { (void)out; }

    // Moves every reference this block holds into `out`, so a graph can be
    // torn down without one destructor recursing into the next.
    virtual void drop_refs(std::vector<BlockRef>& out) { (void)out; }
};

// The first load step shared by every kind with links: exact link count, a
// length that covers the link section, the links themselves (0 becomes nil).
bool begin_block_load(MdfBlock& block, ByteStream* stream, const BlockHeader& header, uint64_t required_links,
                      std::vector<uint64_t>& links);

// What the block reader offers the link table: one block into `target`, and a
// chain of children into `list`. A nil link succeeds and reads nothing.
bool read_ref(ByteStream* stream, uint64_t link, BlockCache& cache, BlockRef& target);
bool read_child_chain(ByteStream* stream, uint64_t link, BlockCache& cache, BlockList& list);
// Logs that the file uses a link this reader does not support.
void report_unsupported_link();

// How a kind uses one of its links.
enum class LinkUse : uint8_t {
    Next,         // the next sibling of a chain (link 0 of a chained kind)
    Chain,        // the first of a chain of children, read into a list
    Ref,          // one block
    MustBeNil,    // a link this reader does not support: a set one fails the file
};

// One link of kind `Block`, in the file's link order: its use and the member it fills.
template <class Block>
struct Link {
    LinkUse use;
    BlockRef Block::*ref = nullptr;    // for Ref
    BlockList Block::*list = nullptr;  // for Chain
};

template <class Block>
constexpr Link<Block> next_link() { return {LinkUse::Next}; }
template <class Block>
constexpr Link<Block> nil_link() { return {LinkUse::MustBeNil}; }
template <class Block>
constexpr Link<Block> ref_link(BlockRef Block::*ref) { return {LinkUse::Ref, ref, nullptr}; }
template <class Block>
constexpr Link<Block> chain_link(BlockList Block::*list) { return {LinkUse::Chain, nullptr, list}; }

// A kind with links. Each kind declares its links once, in file order, as
// `static constexpr auto links()`; loading them, collecting the references
// and dropping them all follow from that table. The kind itself reads its
// data section in `read_data`.
template <class Block>
struct LinkedBlock : MdfBlock {
    bool begin_load(ByteStream* stream, BlockCache&, const BlockHeader& header, std::vector<uint64_t>& links,
                    uint64_t& next_sibling) override {
        constexpr auto table = Block::links();
        if (!begin_block_load(*this, stream, header, table.size(), links)) return false;
        if constexpr (table[0].use == LinkUse::Next) next_sibling = links[0];
        return true;
    }

    bool finish_load(ByteStream* stream, BlockCache& cache, const std::vector<uint64_t>& links) override {
        constexpr auto table = Block::links();
        auto& self = static_cast<Block&>(*this);
        for (size_t i = 0; i < table.size(); ++i) {
            const Link<Block>& link = table[i];
            bool ok = true;
            switch (link.use) {
            case LinkUse::Next: break;  // the block reader follows it
            case LinkUse::Chain: ok = read_child_chain(stream, links[i], cache, self.*link.list); break;
            case LinkUse::Ref: ok = read_ref(stream, links[i], cache, self.*link.ref); break;
            case LinkUse::MustBeNil:
                if (links[i] != kNilLink) {
                    report_unsupported_link();
                    ok = false;
                }
                break;
            }
            if (!ok) return false;
        }
        const auto start = static_cast<int64_t>(file_offset + kBlockHeaderSize + 8 * table.size());
        if (stream_seek(stream, start, kSeekSet) != start) return false;
        FieldReader fields = FieldReader::at(stream);
        return self.read_data(fields);
    }

    void collect_refs(std::vector<const MdfBlock*>& out) const override {
        const auto& self = static_cast<const Block&>(*this);
        for (const Link<Block>& link : Block::links()) {
            if (link.ref && self.*link.ref) out.push_back((self.*link.ref).get());
            if (link.list)
                for (const BlockRef& member : self.*link.list)
                    if (member) out.push_back(member.get());
        }
    }

    void drop_refs(std::vector<BlockRef>& out) override {
        auto& self = static_cast<Block&>(*this);
        for (const Link<Block>& link : Block::links()) {
            if (link.ref && self.*link.ref) out.push_back(std::move(self.*link.ref));
            if (link.list) {
                for (BlockRef& member : self.*link.list)
                    if (member) out.push_back(std::move(member));
                (self.*link.list).clear();
            }
        }
    }
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
struct HdBlock final : LinkedBlock<HdBlock> {
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

    static constexpr auto links() {
        return std::array{chain_link(&HdBlock::data_groups), chain_link(&HdBlock::file_history), nil_link<HdBlock>(),
                          nil_link<HdBlock>(), nil_link<HdBlock>(), ref_link(&HdBlock::comment)};
    }
    bool read_data(FieldReader& fields);
};

// FH, 2 links: next FH, comment. Data: u64 time_ns, i16 tz, i16 dst, u8 time_flags.
struct FhBlock final : LinkedBlock<FhBlock> {
    static constexpr BlockKind kKind = BlockKind::FH;

    BlockRef comment;
    uint64_t time_ns = 0;
    int16_t tz_offset_min = 0;
    int16_t dst_offset_min = 0;
    uint8_t time_flags = 0;

    static constexpr auto links() { return std::array{next_link<FhBlock>(), ref_link(&FhBlock::comment)}; }
    bool read_data(FieldReader& fields);
};

// TX (plain text) and MD (XML), no links: the data section is the text.
struct TextBlock : MdfBlock {
    std::string text;

    bool begin_load(ByteStream*, BlockCache&, const BlockHeader&, std::vector<uint64_t>&, uint64_t&) override;
};

// DG, 4 links: next DG, first CG, data block, comment. Data: u8 record_id_size.
struct DgBlock final : LinkedBlock<DgBlock> {
    static constexpr BlockKind kKind = BlockKind::DG;

    BlockList channel_groups;
    BlockRef data;  // a DT block; other kinds are passed over by the readers
    BlockRef comment;
    uint8_t record_id_size = 0;

    static constexpr auto links() {
        return std::array{next_link<DgBlock>(), chain_link(&DgBlock::channel_groups), ref_link(&DgBlock::data),
                          ref_link(&DgBlock::comment)};
    }
    bool read_data(FieldReader& fields);
};

// CG, 6 links: next CG, first CN, acquisition name, acquisition source,
// first sample reduction (must be nil), comment.
// Data: u64 record_id, u64 cycle_count, u16 flags, u16 path_separator,
// reserved (4), u32 data_bytes, u32 inval_bytes.
struct CgBlock final : LinkedBlock<CgBlock> {
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

    bool is_vlsd() const { return (flags & kFlagVlsd) != 0; }

    static constexpr auto links() {
        return std::array{next_link<CgBlock>(),         chain_link(&CgBlock::channels), ref_link(&CgBlock::acq_name),
                          ref_link(&CgBlock::acq_source), nil_link<CgBlock>(),           ref_link(&CgBlock::comment)};
    }
    bool read_data(FieldReader& fields);
};

// CN, 8 links: next CN, composition, name, source, conversion, signal data,
// unit, comment. Data (72 bytes): u8 channel_type, u8 sync_type, u8 data_type,
// u8 bit_offset, u32 byte_offset, u32 bit_count, u32 flags, u32 inval_bit_pos,
// u8 precision, reserved (1), u16 attachment_count, then six f64 ranges/limits.
struct CnBlock final : LinkedBlock<CnBlock> {
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

    static constexpr auto links() {
        return std::array{next_link<CnBlock>(),         chain_link(&CnBlock::composition), ref_link(&CnBlock::name),
                          ref_link(&CnBlock::source),     ref_link(&CnBlock::conversion),    ref_link(&CnBlock::data),
                          ref_link(&CnBlock::unit),       ref_link(&CnBlock::comment)};
    }
    bool read_data(FieldReader& fields);
};

// CC, 4 links: name, unit, comment, inverse. Data: u8 conversion_type,
// u8 precision, u16 flags, u16 ref_count, u16 val_count, f64 phy_range_min,
// f64 phy_range_max, val_count × f64 values.
struct CcBlock final : LinkedBlock<CcBlock> {
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

    static constexpr auto links() {
        return std::array{ref_link(&CcBlock::name), ref_link(&CcBlock::unit), ref_link(&CcBlock::comment),
                          ref_link(&CcBlock::inverse)};
    }
    bool read_data(FieldReader& fields);
};

// SI, 3 links: name, path, comment. Data: u8 source_type, u8 bus_type, u8 flags.
struct SiBlock final : LinkedBlock<SiBlock> {
    static constexpr BlockKind kKind = BlockKind::SI;
    static constexpr uint8_t kSourceTypeBus = 2;

    BlockRef name;
    BlockRef path;
    BlockRef comment;
    uint8_t source_type = 0;
    uint8_t bus_type = 0;  // which bus, for a bus source: the bus kinds know their codes
    uint8_t flags = 0;

    bool is_bus() const { return source_type == kSourceTypeBus; }

    static constexpr auto links() {
        return std::array{ref_link(&SiBlock::name), ref_link(&SiBlock::path), ref_link(&SiBlock::comment)};
    }
    bool read_data(FieldReader& fields);
};

// DT and SD: the whole block behind the 24-byte header is data, left unread
// at load time. The block is itself a read-only stream over that data
// section (write and close stay absent). The stream it was read from is
// borrowed, never closed through the block.
struct DataBlock : MdfBlock, ByteStream {
    uint64_t data_start = 0;  // stream position directly behind the header
    uint64_t position = 0;    // read position within the data section
    ByteStream* source = nullptr;
    // Set when the source holds the whole file in memory: lets readers take
    // bytes by pointer instead of calling read per field.
    const uint8_t* source_memory = nullptr;
    uint64_t source_size = 0;  // of the whole stream, held in memory or not: where the file ends

    // length − 24, or 0 for a shorter block.
    uint64_t data_size() const { return header.length > kBlockHeaderSize ? header.length - kBlockHeaderSize : 0; }

    // The data section as contiguous bytes, or nullptr when the source is not
    // held in memory. Only the first direct_size() bytes are there (a length
    // that claims more than the file holds is cut at the end of the file).
    const uint8_t* direct_data() const {
        return source_memory && data_start <= source_size ? source_memory + data_start : nullptr;
    }
    uint64_t direct_size() const {
        if (!direct_data()) return 0;
        const uint64_t available = source_size - data_start;
        return data_size() < available ? data_size() : available;
    }

    int64_t read(void* dst, uint64_t count) override;
    int64_t tell() override { return static_cast<int64_t>(position); }
    int64_t seek(int64_t offset, int32_t whence) override;
    // Through the source's own read_at: one call per fetch of a record's bytes.
    int64_t read_at(uint64_t offset, void* dst, uint64_t count) override;

    bool begin_load(ByteStream*, BlockCache&, const BlockHeader&, std::vector<uint64_t>&, uint64_t&) override;
};


// The kinds that share a layout, told apart by their identifier.
template <class Layout, BlockKind kBlockKind>
struct BlockOfKind final : Layout {
    static constexpr BlockKind kKind = kBlockKind;
};
using TxBlock = BlockOfKind<TextBlock, BlockKind::TX>;
using MdBlock = BlockOfKind<TextBlock, BlockKind::MD>;
using DtBlock = BlockOfKind<DataBlock, BlockKind::DT>;
using SdBlock = BlockOfKind<DataBlock, BlockKind::SD>;

// Typed access: the block when it is present and of T's kind, else nullptr.
// A reference to a block of an unexpected kind thus behaves like an empty one.
template <class T>
T* block_as(MdfBlock* block) {
    return block && block->kind() == T::kKind ? static_cast<T*>(block) : nullptr;
}
template <class T>
const T* block_as(const MdfBlock* block) {
    return block_as<T>(const_cast<MdfBlock*>(block));
}
template <class T>
T* block_as(const BlockRef& ref) {
    return block_as<T>(ref.get());
}

}  // namespace tracemill
