// Builders of the hostile shapes: each starts from an ordinary logger file
// of the synthetic writer and adds the crafted part, mostly as link patches
// that make many blocks share one.
#include "hostile_shapes.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "bus_groups.h"
#include "container_writer.h"
#include "heatshrink_encoder.h"
#include "mdf_layout.h"
#include "mdf_writer.h"

namespace tracemill::tools {
namespace {

constexpr uint64_t kStartTime = 1'700'000'000'000'000'000ULL;
// Window and lookahead bits of the crafted compressed payloads: the longest
// back-reference (8192 bytes in 28 bits), so two items fill 7 bytes exactly.
constexpr unsigned kBombWindowBits = 14;
constexpr unsigned kBombLookaheadBits = 13;
constexpr size_t kBombItemPairBytes = 7;

// A sorted data group of `frames` classic CAN frames, data bytes in the record.
DataGroupSpec can_data_group(uint64_t frames) {
    BusDataGroup group;
    const size_t can = group.add_group(BusGroupKind::CanDataFrame, BusGroupOptions().with_payload(PayloadStorage::InRecord));
    for (uint64_t i = 0; i < frames; ++i) {
        const auto byte = static_cast<uint8_t>(i);
        group.add(can, can_frame(0.001 * static_cast<double>(i), 0x100 + static_cast<uint32_t>(i % 16),
                                 {byte, 1, 2, 3, 4, 5, 6, byte}));
    }
    return group.take();
}

FileSpec can_log(uint64_t frames, const std::string& serial = "0BAD0001") {
    FileSpec spec = logger_file(serial, 1, 1, kStartTime);
    spec.data_groups.push_back(can_data_group(frames));
    return spec;
}

// One more channel of the CAN data frame group: a second direction bit, so
// the group's records still decode (a channel without a bus role ends them).
ChannelSpec extra_channel() {
    ChannelSpec channel;
    channel.name = "CAN_DataFrame.Dir";
    channel.bit_count = 1;
    return channel;
}

HostileFile mdf(const FileSpec& spec) { return {write_mdf(spec).bytes}; }

// W(level): composes X and Y, X composes W(level-1); Y's composition link is
// patched to W(level-1) afterwards.
ChannelSpec composition_level(uint64_t level) {
    if (level == 0) return extra_channel();
    ChannelSpec x;
    x.members.push_back(composition_level(level - 1));
    ChannelSpec w;
    w.members.push_back(std::move(x));
    w.members.emplace_back();
    return w;
}

std::string channel_name(size_t channel) { return "dg0.cg0.cn" + std::to_string(channel); }

// A block header of `id` with no links whose length runs to `end`.
void put_open_block(std::vector<uint8_t>& bytes, uint64_t at, std::string_view id, uint64_t end) {
    put_text(bytes, id);
    put_zeros(bytes, 4);
    put_u64(bytes, end - at);
    put_u64(bytes, 0);
}

// `depth` nested property trees with 100-byte names, then as many distinct
// entries at the deepest level as the nesting has bytes: every entry's key
// is the whole path.
std::string deep_property_trees(uint64_t depth) {
    std::string trees;
    for (uint64_t level = 0; level < depth; ++level) {
        std::string name = "level " + std::to_string(level) + " ";
        name.resize(100, 'k');
        trees += "<tree name=\"" + name + "\">";
    }
    const uint64_t entries = trees.size() / 20;
    for (uint64_t i = 0; i < entries; ++i) trees += "<e name=\"e" + std::to_string(i) + "\">v</e>";
    for (uint64_t level = 0; level < depth; ++level) trees += "</tree>";
    return trees;
}

}  // namespace

HostileFile shared_composition(uint64_t levels) {
    FileSpec spec = can_log(10);
    auto& channels = spec.data_groups[0].groups[0].channels;
    std::string w = channel_name(channels.size());
    channels.push_back(composition_level(levels));
    for (uint64_t level = levels; level > 0; --level) {
        const std::string x = w + ".cn0";
        spec.link_patches.push_back({w + ".cn1", 1, x + ".cn0", 0});  // Y(level) composes W(level-1)
        w = x + ".cn0";
    }
    return mdf(spec);
}

HostileFile overlapping_texts(uint64_t histories) {
    FileSpec spec = can_log(10);
    const size_t first = spec.history.size();
    spec.history.resize(first + histories, spec.history.front());
    for (size_t i = first; i < spec.history.size(); ++i) spec.history[i].comment = {};
    MdfImage image = write_mdf(spec);
    std::vector<uint8_t>& bytes = image.bytes;
    bytes.resize((bytes.size() + 7) & ~size_t{7}, 0);
    const uint64_t start = bytes.size();
    const std::string last_text = "<FHcomment><TX>shared end</TX></FHcomment>";
    const uint64_t end = start + kBlockHeaderSize * histories + last_text.size() + 1;
    for (uint64_t i = 0; i < histories; ++i) {
        const uint64_t at = start + kBlockHeaderSize * i;
        put_open_block(bytes, at, "##MD", end);
        patch_link(bytes, image.offset_of("fh" + std::to_string(first + i)), 1, at);
    }
    put_text(bytes, last_text);
    bytes.push_back(0);
    return {std::move(bytes)};
}

HostileFile nested_compression(uint64_t zero_bytes) {
    CompressOptions options;
    options.window_bits = kBombWindowBits;
    options.lookahead_bits = kBombLookaheadBits;
    const std::vector<uint8_t> inner =
        write_compressed_payload(heatshrink_encode_zeros(zero_bytes, kBombWindowBits, kBombLookaheadBits), options);
    // The outer layer expands about 330 times: within any cap on one layer's
    // expansion, so that only the nesting itself gives the shape away.
    options.lookahead_bits = 10;
    const std::vector<uint8_t> outer = heatshrink_encode_periodic(inner.data(), inner.size(), kBombItemPairBytes,
                                                                  options.window_bits, options.lookahead_bits);
    return {write_compressed_payload(outer, options), ".mfc"};
}

HostileFile high_ratio_compression(uint64_t zero_bytes) {
    CompressOptions options;
    options.window_bits = kBombWindowBits;
    options.lookahead_bits = kBombLookaheadBits;
    return {write_compressed_payload(heatshrink_encode_zeros(zero_bytes, kBombWindowBits, kBombLookaheadBits), options),
            ".mfc"};
}

HostileFile deep_header_xml(uint64_t depth) {
    FileSpec spec = can_log(10);
    std::string& xml = spec.header.comment.text;
    xml.insert(xml.rfind("</common_properties>"), deep_property_trees(depth));
    return mdf(spec);
}

HostileFile shared_source_comment(uint64_t sources) {
    FileSpec spec = can_log(10);
    auto& channels = spec.data_groups[0].groups[0].channels;
    const size_t first = channels.size();
    for (uint64_t i = 0; i < sources; ++i) {
        ChannelSpec channel = extra_channel();
        channel.source = SourceSpec{};
        channels.push_back(std::move(channel));
    }
    spec.extra_blocks.push_back({"shared_comment", "##MD", {}, {}});
    put_text(spec.extra_blocks.back().data,
             "<SIcomment><TX>bus</TX><common_properties>" + deep_property_trees(250) + "</common_properties></SIcomment>");
    spec.extra_blocks.back().data.push_back(0);
    for (uint64_t i = 0; i < sources; ++i)
        spec.link_patches.push_back({channel_name(first + i) + ".si", 2, "shared_comment", 0});
    return mdf(spec);
}

HostileFile shared_channel_group(uint64_t data_groups) {
    FileSpec spec = can_log(10);
    auto& channels = spec.data_groups[0].groups[0].channels;
    for (uint64_t i = 0; i < std::min<uint64_t>(data_groups, 8000); ++i) channels.push_back(extra_channel());
    for (uint64_t d = 1; d <= data_groups; ++d) {
        spec.data_groups.emplace_back();  // no channel group of its own, an empty data block
        spec.link_patches.push_back({"dg" + std::to_string(d), 1, "dg0.cg0", 0});
    }
    return mdf(spec);
}

HostileFile colliding_record_ids(uint64_t groups) {
    BusDataGroup bus(8);
    const size_t can = bus.add_group(BusGroupKind::CanDataFrame,
                                     BusGroupOptions().with_payload(PayloadStorage::InRecord).with_record_id(1));
    for (int i = 0; i < 10; ++i) bus.add(can, can_frame(0.001 * i, 0x100, {1, 2, 3}));
    DataGroupSpec data_group = bus.take();
    const size_t first = data_group.groups.size();
    for (uint64_t k = 1; k <= groups; ++k) {
        ChannelGroupSpec group;
        group.record_id = k << 32;
        data_group.groups.push_back(std::move(group));
    }
    RecordAppender records(data_group);
    for (uint64_t k = 0; k < groups; ++k) records.append_record(first + k, {});
    FileSpec spec = logger_file("0BAD0001", 1, 1, kStartTime);
    spec.data_groups.push_back(std::move(data_group));
    return mdf(spec);
}

HostileFile shared_data_block(uint64_t data_groups) {
    FileSpec spec = can_log(data_groups);
    for (uint64_t d = 1; d < data_groups; ++d) {
        spec.data_groups.emplace_back().has_data_block = false;
        const std::string name = "dg" + std::to_string(d);
        spec.link_patches.push_back({name, 1, "dg0.cg0", 0});
        spec.link_patches.push_back({name, 2, "dg0.dt", 0});
    }
    return mdf(spec);
}

HostileFile expensive_key_derivation(uint64_t rounds) {
    const std::vector<uint8_t> log = small_valid_log("0BAD0001");
    EncryptOptions options;
    options.password = "pw";
    options.iterations = 1;
    HostileFile file{write_encrypted_container(log.data(), log.size(), options), ".mfe", "pw"};
    const auto count = static_cast<uint32_t>(rounds);
    for (int i = 0; i < 4 && file.bytes.size() > 35; ++i) file.bytes[32 + i] = static_cast<uint8_t>(count >> (24 - 8 * i));
    return file;
}

HostileFile sparse_file(uint64_t sparse_size) {
    MdfImage image = write_mdf(can_log(40));
    const uint64_t data_block = image.offset_of("dg0.dt");
    if (sparse_size > data_block) patch_le(image.bytes, data_block + 8, sparse_size - data_block, 8);
    return {std::move(image.bytes), ".mf4", "", sparse_size};
}

HostileFile shared_conversion(uint64_t channels) {
    FileSpec spec = can_log(10);
    auto& list = spec.data_groups[0].groups[0].channels;
    const size_t first = list.size();
    std::vector<std::pair<double, double>> table;
    for (int key = 0; key < 100000; ++key) table.emplace_back(std::sqrt(key + 2.0), key);  // keys whose low bits differ
    for (uint64_t i = 0; i < channels; ++i) {
        list.push_back(extra_channel());
        if (i == 0) list.back().conversion = ConversionSpec::value_table(table);
        else spec.link_patches.push_back({channel_name(first + i), 4, channel_name(first) + ".cc", 0});
    }
    return mdf(spec);
}

std::span<const HostileShape> hostile_shapes() {
    static const HostileShape kShapes[] = {
        {1, "shared composition", shared_composition, 24, 22},
        {2, "overlapping texts", overlapping_texts, 14500, 8000},
        {3, "nested compression", nested_compression, uint64_t{2} << 30, uint64_t{2} << 30},
        {3, "high compression ratio", high_ratio_compression, uint64_t{1} << 30, uint64_t{64} << 20},
        {4, "deep header XML", deep_header_xml, 1300, 1300},
        {5, "shared source comment", shared_source_comment, 80, 250},
        {6, "shared channel group", shared_channel_group, 20000, 20000},
        {7, "colliding record ids", colliding_record_ids, 60000, 80000},
        {8, "shared data block", shared_data_block, 3000, 300},
        {9, "expensive key derivation", expensive_key_derivation, 10'000'000, 10'000'000},
        {10, "sparse file", sparse_file, uint64_t{4} << 30, uint64_t{4} << 30},
        {11, "shared conversion", shared_conversion, 120, 120},
    };
    return kShapes;
}

bool write_hostile_file(const HostileFile& file, const std::string& path) {
    if (!write_bytes(path, file.bytes)) return false;
    return file.sparse_size <= file.bytes.size() || ::truncate(path.c_str(), static_cast<off_t>(file.sparse_size)) == 0;
}

std::vector<uint8_t> small_valid_log(const std::string& serial, uint64_t frames) {
    return write_mdf(can_log(frames, serial)).bytes;
}

}  // namespace tracemill::tools
