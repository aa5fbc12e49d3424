// Reading block headers, single blocks and sibling chains; the per-open cache;
// walking and tearing down a loaded block graph.
#include "mdf/block_reader.h"

#include <cstring>
#include <new>
#include <string_view>

#include "common/log.h"
#include "common/log_escape.h"
#include "streams/field_reader.h"
#include "streams/byte_stream.h"

namespace tracemill {

namespace {

struct KindId {
    char id[5];
    BlockKind kind;
};

constexpr KindId kKindIds[] = {
    {"##CC", BlockKind::CC}, {"##CG", BlockKind::CG}, {"##CN", BlockKind::CN}, {"##DG", BlockKind::DG},
    {"##DT", BlockKind::DT}, {"##FH", BlockKind::FH}, {"##HD", BlockKind::HD}, {"##MD", BlockKind::MD},
    {"##SD", BlockKind::SD}, {"##SI", BlockKind::SI}, {"##TX", BlockKind::TX},
};

constexpr uint64_t kIdBlockLength = 64;
// Text bytes a file may load, per byte of the file.
constexpr uint64_t kTextBytesPerFileByte = 2;

bool is_file_identifier(const uint8_t* bytes) {
    return std::memcmp(bytes, "MDF     ", 8) == 0 || std::memcmp(bytes, "UnFinMF ", 8) == 0;
}

std::shared_ptr<MdfBlock> make_block(BlockKind kind) {
    switch (kind) {
        case BlockKind::ID: return std::make_shared<IdBlock>();
        case BlockKind::HD: return std::make_shared<HdBlock>();
        case BlockKind::FH: return std::make_shared<FhBlock>();
        case BlockKind::TX: return std::make_shared<TxBlock>();
        case BlockKind::MD: return std::make_shared<MdBlock>();
        case BlockKind::DG: return std::make_shared<DgBlock>();
        case BlockKind::CG: return std::make_shared<CgBlock>();
        case BlockKind::CN: return std::make_shared<CnBlock>();
        case BlockKind::CC: return std::make_shared<CcBlock>();
        case BlockKind::SI: return std::make_shared<SiBlock>();
        case BlockKind::DT: return std::make_shared<DtBlock>();
        case BlockKind::SD: return std::make_shared<SdBlock>();
        case BlockKind::None: break;
    }
    return nullptr;
}

bool is_loading(const BlockCache& cache, uint64_t offset) {
    const bool* loading = cache.loading.find(offset);
    return loading && *loading;
}

void set_loading(BlockCache& cache, uint64_t offset, bool value) {
    if (bool* loading = cache.loading.find(offset)) *loading = value;
    else cache.loading.insert(offset, value);
}

// A chain member whose load has begun: its links wait for the second step.
struct BegunBlock {
    BlockRef block;
    std::vector<uint64_t> links;
};

// Reads the header at `offset`, creates the block and begins its load; the
// next-sibling link (if the kind has one) comes back unfollowed.
bool begin_one(ByteStream* stream, uint64_t offset, BlockCache& cache, BegunBlock& begun, uint64_t& next_sibling) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    const auto at = static_cast<int64_t>(offset);
    if (stream_seek(stream, at, kSeekSet) != at) return false;
    const std::optional<BlockHeader> header = read_block_header(stream);
    if (!header) return false;

    try {
        begun.block = make_block(header->kind);
    } catch (const std::bad_alloc&) {
    }
    if (!begun.block) {
        TM_LOG(kError, "Could not parse block at offset %llu", static_cast<unsigned long long>(offset));
        return false;
    }
    begun.block->file_offset = offset;
    set_loading(cache, offset, true);
    return begun.block->begin_load(stream, cache, *header, begun.links, next_sibling);
}

}  // namespace

BlockCache::BlockCache(ByteStream* stream) {
    const int64_t size = ::tracemill::stream_size(stream);
    stream_size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    // A file held in memory serves blocks and records by pointer.
    uint64_t held = 0;
    if (const uint8_t* bytes = stream_contents(stream, held)) {
        memory_ = bytes;
        stream_size_ = held;
    }
    text_budget = kTextBytesPerFileByte * stream_size_;
}

BlockCache::~BlockCache() {
    std::vector<BlockRef> refs;
    refs.reserve(blocks.size());
    blocks.for_each([&](uint64_t, BlockRef& ref) { refs.push_back(std::move(ref)); });
    blocks.clear();
    release_blocks(std::move(refs));
}

std::optional<BlockHeader> read_block_header(ByteStream* stream) {
    uint8_t raw[kBlockHeaderSize];
    if (stream_read_fully(stream, raw, sizeof raw) != static_cast<int64_t>(sizeof raw)) return std::nullopt;

    if (is_file_identifier(raw)) {
        if (stream_seek(stream, -static_cast<int64_t>(kBlockHeaderSize), kSeekCur) < 0) return std::nullopt;
        return BlockHeader{BlockKind::ID, kIdBlockLength, 0};
    }
    for (const KindId& known : kKindIds) {
        if (std::memcmp(raw, known.id, 4) != 0) continue;
        BlockHeader header;
        header.kind = known.kind;
        for (int i = 7; i >= 0; --i) header.length = (header.length << 8) | raw[8 + i];
        for (int i = 7; i >= 0; --i) header.link_count = (header.link_count << 8) | raw[16 + i];
        return header;
    }
    // The identifier comes from the file: shown escaped, up to its first zero byte.
    const std::string_view id(reinterpret_cast<const char*>(raw), strnlen(reinterpret_cast<const char*>(raw), 8));
    TM_LOG(kError, "Unable to load block header for type %s", escape_file_text(id).c_str());
    return std::nullopt;
}

BlockRef read_block(ByteStream* stream, uint64_t offset, BlockCache& cache, BlockList* list) {
    if (offset == kNilLink) return {};
    if (cache.depth >= kMaxBlockNesting) {
        TM_LOG(kError, "Blocks nested too deeply at offset %llu", static_cast<unsigned long long>(offset));
        return {};
    }

    // First step, front to back: headers and link sections of the chain that
    // starts here. A finished block is not loaded again, so its siblings are
    // not followed: a chain that reaches one ends with it.
    std::vector<BegunBlock> chain;
    BlockRef finished_end;
    bool ok = true;
    for (uint64_t at = offset; at != kNilLink;) {
        if (BlockRef* known = cache.blocks.find(at)) {
            finished_end = *known;
            break;
        }
        if (is_loading(cache, at)) {
            TM_LOG(kError, "Link cycle detected at offset %llu", static_cast<unsigned long long>(at));
            ok = false;
            break;
        }
        uint64_t next = kNilLink;
        chain.emplace_back();
        if (!begin_one(stream, at, cache, chain.back(), next)) {
            ok = false;
            break;
        }
        at = next;
    }

    // Second step, back to front: each block's load includes its later
    // siblings, so the last member finishes, and is shared, first.
    ++cache.depth;
    for (size_t i = chain.size(); ok && i-- > 0;) {
        MdfBlock& block = *chain[i].block;
        ok = block.finish_load(stream, cache, chain[i].links);
        set_loading(cache, block.file_offset, false);
        if (ok && !cache.blocks.insert(block.file_offset, chain[i].block)) ok = false;
    }
    --cache.depth;

    if (!ok) {
        std::vector<BlockRef> dropped;
        for (BegunBlock& begun : chain) {
            if (!begun.block) continue;
            set_loading(cache, begun.block->file_offset, false);
            dropped.push_back(std::move(begun.block));
        }
        release_blocks(std::move(dropped));
        return {};
    }
    if (list) {
        for (const BegunBlock& begun : chain) list->push_back(begun.block);
        if (finished_end) list->push_back(finished_end);
    }
    return chain.empty() ? finished_end : chain.front().block;
}

bool read_chain(ByteStream* stream, uint64_t offset, BlockCache& cache, BlockList& list) {
    return read_block(stream, offset, cache, &list) != nullptr;
}

bool read_links(ByteStream* stream, const BlockHeader& header, std::vector<uint64_t>& links) {
    FieldReader fields = FieldReader::at(stream);
    for (uint64_t i = 0; i < header.link_count; ++i) {
        uint64_t link = 0;
        if (!fields.read_u64(link)) return false;
        links.push_back(link == 0 ? kNilLink : link);
    }
    return true;
}

bool BlockSet::insert(const MdfBlock* block) {
    if (!index_.insert(block, static_cast<uint32_t>(order_.size()))) return false;
    order_.push_back(block);
    return true;
}

void visit_blocks(const MdfBlock* block, BlockSet& set) {
    if (!block) return;
    std::vector<const MdfBlock*> pending{block};
    std::vector<const MdfBlock*> refs;
    while (!pending.empty()) {
        const MdfBlock* current = pending.back();
        pending.pop_back();
        if (!set.insert(current)) continue;
        refs.clear();
        current->collect_refs(refs);
        // Reversed, so the first reference is visited first.
        pending.insert(pending.end(), refs.rbegin(), refs.rend());
    }
}

void release_blocks(std::vector<BlockRef> refs) {
    while (!refs.empty()) {
        BlockRef ref = std::move(refs.back());
        refs.pop_back();
        // The last holder empties the block first, so its destructor has
        // nothing left to cascade into.
        if (ref && ref.use_count() == 1) ref->drop_refs(refs);
    }
}

bool begin_block_load(MdfBlock& block, ByteStream* stream, const BlockHeader& header, uint64_t required_links,
                      std::vector<uint64_t>& links) {
    if (header.link_count != required_links) return false;
    if (header.length < kBlockHeaderSize + 8 * required_links) {
        TM_LOG(kError, "Block at offset %llu is shorter than its links",
               static_cast<unsigned long long>(block.file_offset));
        return false;
    }
    block.header = header;
    links.reserve(required_links);
    return read_links(stream, header, links);
}

bool read_ref(ByteStream* stream, uint64_t link, BlockCache& cache, BlockRef& target) {
    if (link == kNilLink) return true;
    target = read_block(stream, link, cache, nullptr);
    return target != nullptr;
}

bool read_child_chain(ByteStream* stream, uint64_t link, BlockCache& cache, BlockList& list) {
    return link == kNilLink || read_chain(stream, link, cache, list);
}

void report_unsupported_link() { TM_LOG(kError, "Unsupported parameter present in file"); }

}  // namespace tracemill
