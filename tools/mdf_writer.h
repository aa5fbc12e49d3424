// Synthetic MDF4 log writer: describe a file as data, get its bytes.
//
// A `FileSpec` lists the header, the file history, the data groups with their
// channel groups, channels and already laid-out records, and any deliberate
// breakage (raw blocks, link patches). `write_mdf` places the blocks and fixes
// up the links; every block gets a name ("hd", "dg0.cg1.cn2.name", ...) whose
// offset the result exposes, so tests can patch or point at specific blocks.
// Bus-level frames (CAN, LIN) are turned into records by bus_groups.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/hash_map.h"

namespace tracemill::tools {

// Channel data type codes.
enum DataTypeCode : uint8_t {
    kUnsignedLe = 0,
    kUnsignedBe = 1,
    kSignedLe = 2,
    kSignedBe = 3,
    kFloatLe = 4,
    kFloatBe = 5,
    kByteArray = 10,
};

// Channel type codes.
enum ChannelTypeCode : uint8_t {
    kFixedLength = 0,
    kVariableLength = 1,  // value in the record locates the bytes in an SD block or VLSD group
    kMaster = 2,
};

// Conversion type codes.
enum ConversionTypeCode : uint8_t {
    kLinearConversion = 1,      // values: offset, factor
    kValueTableConversion = 5,  // values: key0, value0, key1, value1, ...
};

inline constexpr uint8_t kSourceTypeBus = 2;
inline constexpr uint8_t kBusTypeCan = 2;
inline constexpr uint8_t kBusTypeLin = 3;
inline constexpr uint16_t kChannelGroupVlsdFlag = 1;
inline constexpr uint16_t kUnfinalizedDataLengthFlag = 4;

// A comment: empty text means no comment link; XML goes into an MD block,
// `as_tx` writes the same text into a TX block instead.
struct CommentSpec {
    std::string text;
    bool as_tx = false;
};

struct ConversionSpec {
    uint8_t type = kLinearConversion;
    std::vector<double> values;
    uint16_t ref_count = 0;  // declared reference links; the block gets that many extra links
    std::string name;

    static ConversionSpec linear(double offset, double factor);
    static ConversionSpec value_table(const std::vector<std::pair<double, double>>& pairs);
};

struct SourceSpec {
    std::string name;
    uint8_t source_type = kSourceTypeBus;
    uint8_t bus_type = kBusTypeCan;
    CommentSpec comment;
};

struct ChannelSpec {
    std::string name;  // empty: no name link
    uint8_t channel_type = kFixedLength;
    uint8_t sync_type = 0;
    uint8_t data_type = kUnsignedLe;
    uint32_t byte_offset = 0;
    uint8_t bit_offset = 0;
    uint32_t bit_count = 0;
    uint32_t flags = 0;
    std::optional<ConversionSpec> conversion;
    std::optional<SourceSpec> source;
    std::string unit;
    CommentSpec comment;
    std::vector<ChannelSpec> members;  // composed channel: its members, through the composition link
    // Variable-length channels: the index of a VLSD channel group of the same
    // data group holding the values, or none for an SD block of their own.
    std::optional<size_t> vlsd_group;
    std::vector<uint8_t> signal_data;  // SD data section: entries of u32 length + bytes
    uint16_t attachment_count = 0;     // declared attachments; the block gets that many extra links

    bool has_signal_block() const { return channel_type == kVariableLength && !vlsd_group; }
};

struct ChannelGroupSpec {
    uint64_t record_id = 0;
    uint64_t cycle_count = 0;  // counted by RecordAppender
    uint16_t flags = 0;        // kChannelGroupVlsdFlag for a VLSD group
    uint32_t data_bytes = 0;
    uint32_t inval_bytes = 0;
    std::string acq_name;
    std::optional<SourceSpec> acq_source;
    CommentSpec comment;
    std::vector<ChannelSpec> channels;

    bool is_vlsd() const { return (flags & kChannelGroupVlsdFlag) != 0; }
    uint32_t record_size() const { return data_bytes + inval_bytes; }
};

struct DataGroupSpec {
    uint8_t record_id_size = 0;  // 0 for a sorted group (one channel group)
    std::vector<ChannelGroupSpec> groups;
    std::vector<uint8_t> records;  // DT data section, filled through RecordAppender
    bool has_data_block = true;
    CommentSpec comment;
};

struct HeaderSpec {
    uint64_t start_time_ns = 0;
    int16_t tz_offset_min = 0;
    int16_t dst_offset_min = 0;
    uint8_t time_flags = 0;
    CommentSpec comment;
};

struct HistorySpec {
    uint64_t time_ns = 0;
    int16_t tz_offset_min = 0;
    int16_t dst_offset_min = 0;
    CommentSpec comment;
};

// A block written as given, placed after the data groups' metadata and before
// the data blocks; links may be raw offsets or names of other blocks.
struct RawBlockSpec {
    std::string name;
    std::string id = "##DZ";
    std::vector<uint64_t> raw_links;
    std::vector<uint8_t> data;
};

// Overwrites link `link` of the block named `block` with the offset of the
// block named `target`, or with `raw_offset` when `target` is empty.
struct LinkPatch {
    std::string block;
    size_t link = 0;
    std::string target;
    uint64_t raw_offset = 0;
};

struct FileSpec {
    bool finalised = true;  // false: "UnFinMF " and the last data block's length left unset
    uint16_t unfinalized_flags = kUnfinalizedDataLengthFlag;  // used when not finalised
    uint16_t custom_unfinalized_flags = 0;
    uint64_t unset_data_length = 24;  // length written for the last DT of an unfinalised file
    std::string version_text = "4.10";
    std::string program_id = "tmgen";
    uint16_t version = 410;
    HeaderSpec header;
    std::vector<HistorySpec> history;
    std::vector<DataGroupSpec> data_groups;
    std::vector<RawBlockSpec> extra_blocks;
    std::vector<LinkPatch> link_patches;
};

// The written file and where its named blocks landed. Names: "id", "hd",
// "hd.comment", "fh<i>" and "fh<i>.comment", "dg<d>" ("dg<d>.comment",
// "dg<d>.dt"), "dg<d>.cg<g>" ("...acq_name", "...si", "...comment"), channels
// "dg<d>.cg<g>.cn<c>" with members "dg<d>.cg<g>.cn<c>.cn<m>", and below a
// channel ".name", ".si", ".si.name", ".si.comment", ".cc", ".cc.name", ".sd",
// ".unit", ".comment"; raw blocks by their own name.
struct MdfImage {
    std::vector<uint8_t> bytes;
    HashMap<std::string, uint64_t> offsets;

    // Offset of a named block; 0 (no block) when there is no such name.
    uint64_t offset_of(std::string_view name) const;
};

// Lays out and writes the file; an unknown link patch name leaves the link as it was.
MdfImage write_mdf(const FileSpec& spec);
// Streams the file to `path` without holding it in memory; false when it cannot be written.
bool write_mdf_file(const FileSpec& spec, const std::string& path);
bool write_bytes(const std::string& path, std::span<const uint8_t> bytes);

// Post-write patch helpers, little-endian.
void patch_le(std::vector<uint8_t>& bytes, uint64_t offset, uint64_t value, size_t width);
// Sets link `link` of the block at `block_offset`.
void patch_link(std::vector<uint8_t>& bytes, uint64_t block_offset, size_t link, uint64_t target);
// Overwrites the 4-character identifier of the block at `block_offset`.
void patch_block_id(std::vector<uint8_t>& bytes, uint64_t block_offset, std::string_view id);
// Reads link `link` of the block at `block_offset` (0 when out of range).
uint64_t read_link(std::span<const uint8_t> bytes, uint64_t block_offset, size_t link);

// Appends records to a data group's DT data section: the record id of
// `record_id_size` bytes (unsorted groups), then the fixed record or a VLSD entry.
class RecordAppender {
public:
    explicit RecordAppender(DataGroupSpec& data_group) : data_group_(data_group) {}

    void append_record(size_t group, std::span<const uint8_t> fixed);
    void append_vlsd_record(size_t vlsd_group, std::span<const uint8_t> payload);
    // Appends an entry to the channel's SD data and returns its offset there.
    static uint64_t append_signal_entry(ChannelSpec& channel, std::span<const uint8_t> payload);

private:
    void append_record_id(size_t group);
    DataGroupSpec& data_group_;
};

// Logger identity written into the header comment.
struct LoggerProperties {
    std::string serial = "0000ABCD";
    uint32_t session = 1;
    uint32_t split = 1;
    std::vector<std::pair<std::string, std::string>> extra;  // more "e" entries under the device tree
};

// Header comment XML with serial number, session and split under common_properties.
std::string logger_properties_xml(const LoggerProperties& properties);
// File history comment XML carrying `tool_id` (the supported logger writes "VX").
std::string tool_history_xml(std::string_view tool_id = "VX");
// A file skeleton from the supported logger: header comment and one history entry.
FileSpec logger_file(const LoggerProperties& properties = {}, uint64_t start_time_ns = 0);
FileSpec logger_file(std::string serial, uint32_t session, uint32_t split, uint64_t start_time_ns = 0);

}  // namespace tracemill::tools
