// Record reading of one data group: fixed records with or without record
// ids, their signal data from SD blocks or from VLSD records, and the
// warning that tells the user when a group's records end before its data.
//
// When the file is held in memory the raw record views point straight into
// it; otherwise the bytes go through the block's stream view into buffers the
// reader reuses, so no record allocates once the buffers have grown.
#include "mdf/record_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/log.h"
#include "mdf/blocks.h"
#include "mdf/bus/bus_kinds.h"

namespace tracemill {

BlockSection BlockSection::of(DataBlock* block) {
    BlockSection section;
    section.block = block;
    if (block) {
        section.memory = block->direct_data();
        section.memory_size = block->direct_size();  // 0 when not in memory
    }
    return section;
}

namespace {

// Why a fetch gave fewer bytes than asked for, besides the end of the data.
enum class Fault : uint8_t { None, Seek, Read };

// How a group's records end when a fetch came up short: by the fault, or
// else for the reason the shortage means.
RecordEnd end_for(Fault fault, RecordEnd otherwise) {
    if (fault == Fault::Seek) return RecordEnd::SeekFailed;
    if (fault == Fault::Read) return RecordEnd::ReadFailed;
    return otherwise;
}

// Bytes [offset, offset + count) of a data section read through the block's
// stream view, or fewer at its end. `fault` is set when the stream could not
// be positioned or a read failed: that is no end of the data.
std::span<const uint8_t> fetch_through_stream(DataBlock& block, uint64_t offset, uint64_t count,
                                              std::vector<uint8_t>& buffer, Fault& fault) {
    const uint64_t size = block.data_size();
    if (offset > size) {
        fault = Fault::Seek;
        return {};
    }
    count = std::min(count, size - offset);  // never allocate for bytes that are not there
    // The buffer only grows: resizing it to every fetch would clear and count bytes each time.
    if (buffer.size() < count) buffer.resize(count);
    const int64_t delivered = stream_read_at(&block, offset, buffer.data(), count);
    if (delivered < 0) {
        // Whether the stream could not stand there or not read from there.
        const auto at = static_cast<int64_t>(offset);
        fault = stream_seek(&block, at, kSeekSet) != at ? Fault::Seek : Fault::Read;
        return {};
    }
    // The data ending before the stream's own size is no end of the data.
    if (static_cast<uint64_t>(delivered) < count && block.data_start + offset + delivered < block.source_size)
        fault = Fault::Read;
    return {buffer.data(), delivered > 0 ? static_cast<size_t>(delivered) : 0};
}

// Asks for the bytes at `offset` to be brought into the cache.
inline void prefetch(const BlockSection& section, uint64_t offset) {
    if (section.memory && offset < section.memory_size) __builtin_prefetch(section.memory + offset);
}

// The same bytes, by pointer when the section is held in memory.
inline std::span<const uint8_t> fetch(const BlockSection& section, uint64_t offset, uint64_t count,
                                      std::vector<uint8_t>& buffer, Fault& fault) {
    if (section.memory) {
        if (offset >= section.memory_size) return {};
        return {section.memory + offset, static_cast<size_t>(std::min(count, section.memory_size - offset))};
    }
    return fetch_through_stream(*section.block, offset, count, buffer, fault);
}

// Bytes at `offset`, asking for up to `ahead` of them where only the first
// `wanted` are needed: when the fetch ahead fails, the wanted bytes are asked
// for again exactly, so that only they can fail it. Fewer than `ahead` bytes
// at the end of the data are no failure either.
inline std::span<const uint8_t> fetch_ahead(const BlockSection& section, uint64_t offset, uint64_t wanted,
                                            uint64_t ahead, std::vector<uint8_t>& buffer, Fault& fault) {
    const auto bytes = fetch(section, offset, ahead, buffer, fault);
    if (fault == Fault::None) return bytes;
    fault = Fault::None;
    return fetch(section, offset, wanted, buffer, fault);
}

uint64_t little_endian_value(std::span<const uint8_t> bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        // Record ids of one byte and entry lengths of four are nearly all there is.
        if (bytes.size() == 1) return bytes[0];
        if (bytes.size() == 4) {
            uint32_t value;
            std::memcpy(&value, bytes.data(), 4);
            return value;
        }
    }
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

uint32_t entry_length(std::span<const uint8_t> bytes) { return static_cast<uint32_t>(little_endian_value(bytes.first(4))); }

bool ends(RecordReader& reader, RecordEnd why) {
    reader.end = why;
    return false;
}

const RawRecord* no_record(RecordReader& reader, RecordEnd why) {
    reader.end = why;
    return nullptr;
}

// A signal entry: u32 length L then L bytes at `offset` of `block`. Entries
// longer than the reader takes, or whose length cannot be read, give no
// signal data; an entry cut by the end of the data keeps what is there.
std::span<const uint8_t> read_signal_entry(RecordReader& reader, const BlockSection& block, uint64_t offset,
                                           Fault& fault) {
    // A frame's entry is short: its length and payload usually come in one fetch.
    constexpr uint64_t kEntryAhead = 4 + 64;
    const auto entry = fetch_ahead(block, offset, 4, kEntryAhead, reader.signal_bytes, fault);
    if (entry.size() < 4) return {};
    const uint32_t length = entry_length(entry);
    if (length > kMaxSignalLength) {
        TM_LOG(kError, "Unexpectedly large record: %u", length);
        return {};
    }
    if (4 + uint64_t{length} <= entry.size()) return entry.first(4 + length);
    return fetch(block, offset, 4 + uint64_t{length}, reader.signal_bytes, fault);
}

// The record's entry of its SD block; false only when reading it failed.
bool read_sd_signal(RecordReader& reader, const RecordLayout& layout, std::span<const uint8_t> record,
                    std::span<const uint8_t>& signal) {
    const uint64_t offset = load_field(layout.signal_load, static_cast<uint64_t>(layout.record_size), record, [&] {
        return read_channel_bits((*layout.decoders)[layout.signal_decoder], record);
    });
    // An entry out of reach is an entry without data, not the end of the group;
    // a failed read is an error.
    Fault fault = Fault::None;
    if (reader.signal.block != layout.signal_block) reader.signal = BlockSection::of(layout.signal_block);
    signal = read_signal_entry(reader, reader.signal, offset, fault);
    return fault != Fault::Read || ends(reader, RecordEnd::ReadFailed);
}

// The VLSD record that follows a record at `offset`, if it belongs to the
// layout's VLSD group; `consumed` grows by its size when it is taken.
bool read_vlsd_signal(RecordReader& reader, const RecordLayout& layout, uint64_t offset,
                      std::span<const uint8_t>& signal, uint64_t& consumed) {
    const uint32_t id_size = reader.data_group->record_id_size;
    Fault fault = Fault::None;
    const auto id = fetch(reader.section, offset, id_size, reader.signal_bytes, fault);
    if (fault != Fault::None) return ends(reader, end_for(fault, RecordEnd::CutShort));
    if (id.size() < id_size || little_endian_value(id) != layout.vlsd_record_id) return true;  // not ours: left for the next read

    const auto head = fetch(reader.section, offset + id_size, 4, reader.signal_bytes, fault);
    if (head.size() < 4) return ends(reader, end_for(fault, RecordEnd::CutShort));
    const uint32_t length = entry_length(head);
    if (length > kMaxSignalLength) {
        TM_LOG(kError, "Unexpectedly large record: %u", length);
        if (offset + id_size + 4 + length > reader.data_size) return ends(reader, RecordEnd::CutShort);
    } else {
        signal = fetch(reader.section, offset + id_size, 4 + uint64_t{length}, reader.signal_bytes, fault);
        if (signal.size() < 4 + uint64_t{length}) return ends(reader, end_for(fault, RecordEnd::CutShort));
    }
    consumed += id_size + 4 + uint64_t{length};
    return true;
}

// Reads the fixed record at `offset`; false (with the reason) when it is not all there.
bool read_fixed(RecordReader& reader, uint64_t offset, int32_t size, std::span<const uint8_t>& record) {
    Fault fault = Fault::None;
    record = fetch(reader.section, offset, static_cast<uint64_t>(size), reader.record_bytes, fault);
    if (record.size() < static_cast<uint64_t>(size)) return ends(reader, end_for(fault, RecordEnd::CutShort));
    return true;
}

void deliver(RecordReader& reader, const RecordLayout& layout, std::span<const uint8_t> record,
             std::span<const uint8_t> signal) {
    reader.raw.record = record;
    reader.raw.signal = signal;
    reader.raw.decoders = layout.decoders;
    reader.raw.read_plan = layout.read_plan;
    reader.frame_decoder = layout.frame_decoder;
}

const RawRecord* read_without_record_id(RecordReader& reader) {
    const RecordLayout& layout = *reader.sole_layout;
    if (reader.position >= reader.data_size) return no_record(reader, RecordEnd::CleanEnd);
    std::span<const uint8_t> record;
    if (!read_fixed(reader, reader.position, layout.record_size, record)) return nullptr;
    // Without record ids there is no VLSD record to follow; only SD entries count.
    std::span<const uint8_t> signal;
    if (layout.signal_source == SignalSource::SdBlock && !read_sd_signal(reader, layout, record, signal)) return nullptr;
    reader.position += static_cast<uint64_t>(layout.record_size);
    deliver(reader, layout, record, signal);
    return &reader.raw;
}

const RecordLayout* layout_for(RecordReader& reader, uint64_t record_id) {
    if (reader.last_layout && reader.last_layout->record_id == record_id) return reader.last_layout;
    const RecordLayout* layout = reader.layouts.find(record_id);
    if (layout) reader.last_layout = layout;
    return layout;
}

// Skips a VLSD record met on its own: it belongs to no record we could pair
// it with, and the records behind it are still good.
bool skip_vlsd_record(RecordReader& reader, uint32_t id_size) {
    Fault fault = Fault::None;
    const auto head = fetch(reader.section, reader.position + id_size, 4, reader.signal_bytes, fault);
    if (head.size() < 4) return ends(reader, end_for(fault, RecordEnd::CutShort));
    const uint64_t next = reader.position + id_size + 4 + entry_length(head);
    if (next > reader.data_size) return ends(reader, RecordEnd::CutShort);
    reader.position = next;
    return true;
}

const RawRecord* read_with_record_id(RecordReader& reader) {
    const uint32_t id_size = reader.data_group->record_id_size;
    for (;;) {
        if (reader.position >= reader.data_size) return no_record(reader, RecordEnd::CleanEnd);
        // A record usually has the layout of the one before: its id and its
        // bytes come in one fetch; only the id's own bytes can end the group here.
        const uint64_t expected =
            reader.last_layout && reader.last_layout->record_size > 0 ? reader.last_layout->record_size : 0;
        Fault fault = Fault::None;
        const auto head =
            fetch_ahead(reader.section, reader.position, id_size, id_size + expected, reader.record_bytes, fault);
        if (head.size() < id_size) return no_record(reader, end_for(fault, RecordEnd::CutShort));
        const uint64_t record_id = little_endian_value(head.first(id_size));

        const RecordLayout* layout = layout_for(reader, record_id);
        if (!layout) {
            reader.unknown_record_id = record_id;
            return no_record(reader, RecordEnd::UnknownRecordId);
        }
        if (layout->record_size < 0) {
            if (!skip_vlsd_record(reader, id_size)) return nullptr;
            continue;
        }

        std::span<const uint8_t> record;
        if (head.size() >= id_size + static_cast<uint64_t>(layout->record_size))
            record = head.subspan(id_size, static_cast<size_t>(layout->record_size));
        else if (!read_fixed(reader, reader.position + id_size, layout->record_size, record))
            return nullptr;
        uint64_t consumed = id_size + static_cast<uint64_t>(layout->record_size);
        std::span<const uint8_t> signal;
        if (layout->signal_source == SignalSource::SdBlock) {
            if (!read_sd_signal(reader, *layout, record, signal)) return nullptr;
        } else if (layout->signal_source == SignalSource::VlsdGroup) {
            if (!read_vlsd_signal(reader, *layout, reader.position + consumed, signal, consumed)) return nullptr;
        }
        reader.position += consumed;
        deliver(reader, *layout, record, signal);
        return &reader.raw;
    }
}

// Checks, once per reader, whether the group can have records at all.
bool start_reading(RecordReader& reader) {
    reader.end = RecordEnd::None;
    reader.last_layout = nullptr;
    reader.records_delivered = 0;
    DgBlock* group = reader.data_group;
    reader.data = group ? block_as<DtBlock>(group->data) : nullptr;
    if (!reader.data || reader.layouts.empty()) return ends(reader, RecordEnd::CleanEnd);
    if (reader.data_already_read) return ends(reader, RecordEnd::DataAlreadyRead);
    reader.section = BlockSection::of(reader.data);
    reader.data_size = reader.data->data_size();
    reader.signal = {};
    if (group->record_id_size > 8) return ends(reader, RecordEnd::RecordIdTooWide);
    // A group with record ids is read with them, even when it has a single channel group.
    reader.by_record_id = group->record_id_size > 0;
    if (reader.by_record_id) return true;
    reader.sole_layout = reader.layouts.find(0);
    if (!reader.sole_layout) return ends(reader, RecordEnd::CleanEnd);
    if (reader.sole_layout->record_size < 0) return ends(reader, RecordEnd::OnlyVlsd);
    if (reader.sole_layout->record_size == 0) return ends(reader, RecordEnd::EmptyRecords);
    return true;
}

}  // namespace

const char* record_end_text(RecordEnd end) {
    switch (end) {
    case RecordEnd::SeekFailed: return "its data block could not be positioned";
    case RecordEnd::ReadFailed: return "its data could not be read";
    case RecordEnd::OutOfMemory: return "there is not enough memory to read it";
    case RecordEnd::CutShort: return "the data ends inside a record";
    case RecordEnd::RecordIdTooWide: return "record ids wider than 8 bytes are not supported";
    case RecordEnd::EmptyRecords: return "its records have a size of 0";
    case RecordEnd::OnlyVlsd: return "its only channel group holds variable-length data";
    case RecordEnd::NotDecoded: return "a record could not be decoded";
    case RecordEnd::DataAlreadyRead: return "its data was already read by an earlier data group";
    default: return "";
    }
}

namespace {

// A group that holds no bus data is not bus traffic: its refusal at the first
// record is expected.
bool refused_as_no_bus_data(const RecordReader& reader) {
    return reader.end == RecordEnd::NotDecoded && reader.records_delivered == 0 &&
           reader.frame_decoder == decode_unsupported;
}

// A record cut short by the end of the file is where a logger that lost power
// stopped; every record before it was read.
bool cut_at_end_of_file(const RecordReader& reader) {
    return reader.end == RecordEnd::CutShort && reader.data &&
           reader.data->data_start + reader.data->data_size() >= reader.data->source_size;
}

// One warning per group whose records end before its data does (an error when
// the data could not be read); groups without bus data stay silent.
void report_end(const RecordReader& reader) {
    if (reader.end == RecordEnd::None || reader.end == RecordEnd::CleanEnd) return;
    if (refused_as_no_bus_data(reader)) return;
    const unsigned long long offset = reader.data_group ? reader.data_group->file_offset : 0;
    if (reader.end == RecordEnd::UnknownRecordId) {
        TM_LOG(kWarn, "Records of data group %u (at offset %llu) end after %llu records: unregistered record id %llu",
               reader.group_number, offset, static_cast<unsigned long long>(reader.records_delivered),
               static_cast<unsigned long long>(reader.unknown_record_id));
        return;
    }
    const LogLevel level = reader.end == RecordEnd::ReadFailed ? kError : kWarn;
    TM_LOG(level, "Records of data group %u (at offset %llu) end after %llu records: %s", reader.group_number,
           offset, static_cast<unsigned long long>(reader.records_delivered), record_end_text(reader.end));
}

BusRecord* decode(RecordReader& reader) {
    const RawRecord* raw = reader.by_record_id ? read_with_record_id(reader) : read_without_record_id(reader);
    if (!raw) {
        report_end(reader);
        return nullptr;
    }
    reader.output.data.clear();
    if (!reader.frame_decoder(*raw, reader.output)) {
        reader.end = RecordEnd::NotDecoded;
        report_end(reader);
        return nullptr;
    }
    ++reader.records_delivered;
    return &reader.output;
}

}  // namespace

bool ended_cleanly(const RecordReader& reader) {
    return reader.end == RecordEnd::CleanEnd || cut_at_end_of_file(reader);
}

GroupEnd group_end(const RecordReader& reader) {
    GroupEnd end;
    end.group_number = reader.group_number;
    end.file_offset = reader.data_group ? reader.data_group->file_offset : 0;
    end.records_read = reader.records_delivered;
    end.end = reader.end;
    end.unknown_record_id = reader.unknown_record_id;
    end.holds_bus_data = !refused_as_no_bus_data(reader);
    reader.layouts.for_each([&](uint64_t, const RecordLayout& layout) {
        if (layout.record_size >= 0) end.records_expected += layout.cycle_count;
    });
    return end;
}

void prefetch_next_read(const RecordReader& reader) {
    prefetch(reader.section, reader.position);
    prefetch(reader.section, reader.position + 64);
    if (const RecordLayout* layout = reader.last_layout) {
        __builtin_prefetch(layout);
        if (const ChannelReadPlan* plan = layout->read_plan) {
            const auto* bytes = reinterpret_cast<const char*>(plan);
            for (size_t at = 0; at < sizeof *plan; at += 64) __builtin_prefetch(bytes + at);
        }
    }
}

BusRecord* reader_first(RecordReader& reader) {
    reader.position = 0;
    if (!start_reading(reader)) {
        report_end(reader);
        return nullptr;
    }
    return decode(reader);
}

BusRecord* reader_next(RecordReader& reader) {
    if (reader.end != RecordEnd::None) return nullptr;
    return decode(reader);
}

}  // namespace tracemill
