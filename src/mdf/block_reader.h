// Turns links (absolute file offsets) into loaded, shared block objects.
//
// One BlockCache lives for one open: a block reached twice is read once and
// shared. Sibling chains are walked iteratively and loads in progress are
// tracked, so neither a very long chain nor a file whose links loop can run
// the reader out of stack.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/hash_map.h"
#include "mdf/blocks.h"
#include "streams/byte_stream.h"

namespace tracemill {

// Deeper nesting than any logger writes; guards the stack against crafted files.
inline constexpr uint32_t kMaxBlockNesting = 256;

class BlockCache {
public:
    explicit BlockCache(ByteStream* stream);
    ~BlockCache();
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;

    // Finished blocks by file offset; holds one reference per entry.
    HashMap<uint64_t, BlockRef> blocks;
    // Offsets whose load has begun; true while it has not ended. A link to
    // such an offset would loop.
    HashMap<uint64_t, bool> loading;
    uint32_t depth = 0;  // nested read_block calls
    // Bytes of text (TX and MD blocks) the file may still load. Blocks of a
    // real file do not overlap, so its texts together are smaller than the
    // file; crafted blocks nested into one another could each run to the end
    // of the file and load it over and over.
    uint64_t text_budget = 0;

    // Size of the stream, for checking lengths before allocating by them.
    uint64_t stream_size() const { return stream_size_; }
    // The whole stream as bytes when it is held in memory, else nullptr.
    const uint8_t* memory() const { return memory_; }

private:
    uint64_t stream_size_ = 0;
    const uint8_t* memory_ = nullptr;
};

// Reads the 24-byte header at the current position. For the ID block the
// stream is put back at its start. None on a short read (silently) or an
// unrecognised identifier (logged).
std::optional<BlockHeader> read_block_header(ByteStream* stream);

// The block at `offset` (empty for nil or on failure). When the block sits in
// a sibling chain the rest of the chain is loaded too and, if `list` is given,
// the whole chain is appended to it in chain order.
BlockRef read_block(ByteStream* stream, uint64_t offset, BlockCache& cache, BlockList* list);

// read_block into `list`; true when a block was obtained (callers treat a nil
// offset as success before calling).
bool read_chain(ByteStream* stream, uint64_t offset, BlockCache& cache, BlockList& list);

// Reads the header's link_count links at the current position; 0 becomes nil.
bool read_links(ByteStream* stream, const BlockHeader& header, std::vector<uint64_t>& links);

// Identities of blocks, in the order they were first added.
class BlockSet {
public:
    bool insert(const MdfBlock* block);  // false when already present
    bool contains(const MdfBlock* block) const { return index_.contains(block); }
    size_t size() const { return order_.size(); }
    const std::vector<const MdfBlock*>& blocks() const { return order_; }

private:
    HashMap<const MdfBlock*, uint32_t> index_;
    std::vector<const MdfBlock*> order_;
};

// Adds `block` and everything reachable from it to `set`, depth first in each
// kind's reference order. Iterative, and a block already in the set is not
// walked again, so shared sub-graphs cost nothing twice.
void visit_blocks(const MdfBlock* block, BlockSet& set);

// Drops the given references; blocks that lose their last reference are
// dismantled one at a time instead of by nested destructors.
void release_blocks(std::vector<BlockRef> refs);

// An opened file: the stream it is read from (borrowed) and the ID block,
// through which the whole loaded graph is reachable.
struct MdfFile {
    ByteStream* stream = nullptr;
    BlockRef id;

    IdBlock* id_block() const { return block_as<IdBlock>(id); }
    HdBlock* header() const { return id_block() ? block_as<HdBlock>(id_block()->hd) : nullptr; }
};

}  // namespace tracemill
