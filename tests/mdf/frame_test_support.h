// Hand-built channel decoders and records for frame decoder tests: a test
// lists the channels of a group and the values of one record.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mdf/blocks.h"
#include "mdf/bus/bus_kinds.h"
#include "mdf/channel_decoder.h"
#include "mdf/record_layout.h"

namespace tracemill::testing_support {

// A channel of a hand-built group: where its value sits and how it is read.
struct TestChannel {
    std::string name;
    uint32_t byte_offset;
    uint32_t bit_count;
    ValueKind kind = ValueKind::Unsigned;
    bool little_endian = true;
    uint8_t bit_offset = 0;
};

inline ChannelDecoder make_decoder(const TestChannel& channel) {
    ChannelDecoder decoder;
    decoder.name = channel.name;
    decoder.role = channel_role(channel.name);  // as the bus kinds name the roles
    decoder.bit_position = channel.byte_offset * 8u + channel.bit_offset;
    decoder.bit_count = channel.bit_count;
    decoder.value_kind = channel.kind;
    decoder.little_endian = channel.little_endian;
    return decoder;
}

inline ChannelDecoderList make_decoders(const std::vector<TestChannel>& channels) {
    ChannelDecoderList list;
    for (const TestChannel& channel : channels) list.push_back(make_decoder(channel));
    return list;
}

// A channel block as loaded, named by a TX block; the decoder builders take
// nothing else from it.
inline BlockRef text_block(const std::string& text) {
    auto block = std::make_shared<TxBlock>();
    block->header.kind = BlockKind::TX;
    block->text = text;
    return block;
}

inline std::shared_ptr<CnBlock> channel(const std::string& name, uint8_t data_type = 0, uint32_t byte_offset = 0,
                                        uint8_t bit_offset = 0, uint32_t bit_count = 8) {
    auto block = std::make_shared<CnBlock>();
    block->header.kind = BlockKind::CN;
    if (!name.empty()) block->name = text_block(name);
    block->data_type = data_type;
    block->byte_offset = byte_offset;
    block->bit_offset = bit_offset;
    block->bit_count = bit_count;
    return block;
}

// A stand-in signal data block: the decoders only look at whether a link is set.
inline std::shared_ptr<MdfBlock> some_signal_block() {
    auto block = std::make_shared<SdBlock>();
    block->header.kind = BlockKind::SD;
    return block;
}

// Record bytes written field by field, little-endian.
class RecordBytes {
public:
    explicit RecordBytes(size_t size) : bytes_(size, 0) {}
    RecordBytes& put(size_t offset, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        return *this;
    }
    RecordBytes& put_double(size_t offset, double value) { return put(offset, std::bit_cast<uint64_t>(value), 8); }
    RecordBytes& put_bytes(size_t offset, const std::vector<uint8_t>& data) {
        std::memcpy(bytes_.data() + offset, data.data(), data.size());
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// A signal entry: u32 length then the bytes.
inline std::vector<uint8_t> signal_entry(uint32_t length, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> entry(4 + data.size());
    std::memcpy(entry.data(), &length, 4);
    if (!data.empty()) std::memcpy(entry.data() + 4, data.data(), data.size());
    return entry;
}

// A record as the reader hands it to a frame decoder: with its group's
// decoders and the read plan made for records of its size.
struct TestRecord {
    ChannelDecoderList decoders;
    ChannelReadPlan plan;
    RawRecord raw;

    TestRecord(const std::vector<uint8_t>& record, const ChannelDecoderList& group,
               const std::vector<uint8_t>& signal = {})
        : decoders(group), plan(plan_channel_reads(decoders, record.size())) {
        raw.record = record;
        raw.signal = signal;
        raw.decoders = &decoders;
        raw.read_plan = &plan;
    }
    TestRecord(const TestRecord&) = delete;
    TestRecord& operator=(const TestRecord&) = delete;

    operator const RawRecord&() const { return raw; }
};

}  // namespace tracemill::testing_support
