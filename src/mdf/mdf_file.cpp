// Opening an MDF4 file: load the block graph, check that the supported logger
// wrote it, and repair the last data block of an unfinalised file.
#include <new>
#include <string_view>

#include "common/log.h"
#include "mdf/block_reader.h"
#include "mdf/mdf_file.h"

namespace tracemill {

namespace {

constexpr uint64_t kIdOffset = 0;
constexpr uint64_t kHeaderOffset = 64;
constexpr std::string_view kLoggerToolIds[] = {"<tool_id>VX</tool_id>", "<tool_id>Vortlex</tool_id>"};

// True when a file history comment, held in an MD block, names the logger.
bool written_by_logger(const HdBlock& header) {
    for (const BlockRef& entry : header.file_history) {
        const FhBlock* history = block_as<FhBlock>(entry);
        const TextBlock* comment = history ? block_as<MdBlock>(history->comment) : nullptr;
        if (!comment) continue;
        for (std::string_view tool_id : kLoggerToolIds)
            if (comment->text.find(tool_id) != std::string::npos) return true;
    }
    return false;
}

// The file history comments are read only to recognise the logger: their
// texts go once they have been, unless another block shares them.
void release_history_texts(const HdBlock& header) {
    for (const BlockRef& entry : header.file_history) {
        const FhBlock* history = block_as<FhBlock>(entry);
        if (!history || history->comment.use_count() != 1) continue;
        TextBlock* comment = block_as<MdBlock>(history->comment);
        if (!comment) comment = block_as<TxBlock>(history->comment);
        if (comment) std::string().swap(comment->text);
    }
}

// The logger leaves the length of the last data block unset until it
// finalises the file; that block then runs to the end of the file.
void repair_unfinalized(IdBlock& id, const HdBlock& header, ByteStream* stream) {
    if ((id.unfinalized_flags & IdBlock::kUnfinalizedDataLength) == 0) return;
    DataBlock* last = nullptr;
    for (const BlockRef& group : header.data_groups) {
        const DgBlock* data_group = block_as<DgBlock>(group);
        DataBlock* data = data_group ? block_as<DtBlock>(data_group->data) : nullptr;
        if (data && (!last || data->file_offset > last->file_offset)) last = data;
    }
    if (!last) return;
    const int64_t size = stream_size(stream);
    if (size < 0 || static_cast<uint64_t>(size) < last->file_offset + kBlockHeaderSize) return;
    last->header.length = static_cast<uint64_t>(size) - last->file_offset;
    id.unfinalized_flags &= static_cast<uint16_t>(~IdBlock::kUnfinalizedDataLength);
}

}  // namespace

void MdfFileDeleter::operator()(MdfFile* file) const {
    if (!file) return;
    release_blocks({std::move(file->id)});
    delete file;
}

MdfFilePtr open_mdf(ByteStream* stream) {
    if (!stream) return nullptr;
    MdfFilePtr file(new (std::nothrow) MdfFile{stream, {}});
    if (!file) return nullptr;
    {
        BlockCache cache(stream);
        BlockRef id = read_block(stream, kIdOffset, cache, nullptr);
        IdBlock* id_block = block_as<IdBlock>(id);
        if (!id_block) return nullptr;
        id_block->hd = read_block(stream, kHeaderOffset, cache, nullptr);
        if (!id_block->hd) return nullptr;
        file->id = std::move(id);
    }  // the cache goes: the graph now lives through the ID block alone

    HdBlock* header = file->header();
    if (!header) return nullptr;
    if (!written_by_logger(*header)) {
        TM_LOG(kError, "Unsupported MF4 file");
        return nullptr;
    }
    release_history_texts(*header);
    repair_unfinalized(*file->id_block(), *header, stream);
    return file;
}

}  // namespace tracemill
