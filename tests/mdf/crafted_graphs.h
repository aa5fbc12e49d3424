// Crafted files whose blocks share sub-graphs on purpose, each shape scaled
// by a count: small in the tests, large when measuring what a shape costs.
// All are logger files the reader opens; their cost lies in what they share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bus_groups.h"
#include "mdf_writer.h"

namespace tracemill::testing_support {

// One data group with one CAN data frame group holding `frames` frames.
inline tools::FileSpec can_file(size_t frames, const tools::BusGroupOptions& options = {}) {
    tools::BusDataGroup group;
    const size_t g = group.add_group(tools::BusGroupKind::CanDataFrame, options);
    for (size_t i = 0; i < frames; ++i)
        group.add(g, tools::can_frame(0.001 * double(i), 0x100 + uint32_t(i % 64), {1, 2}));
    tools::FileSpec file = tools::logger_file();
    file.data_groups.push_back(group.take());
    return file;
}

// A byte array channel without a role: the frame decoders pass it over.
inline std::vector<uint8_t> cn_data(uint32_t bit_count) {
    std::vector<uint8_t> data(72, 0);
    data[2] = tools::kByteArray;
    for (size_t i = 0; i < 4; ++i) data[8 + i] = static_cast<uint8_t>(bit_count >> (8 * i));
    return data;
}

// A raw CN block (8 links, all nil until patched) named `name`.
inline void add_raw_channel(tools::FileSpec& file, const std::string& name) {
    file.extra_blocks.push_back({name, "##CN", std::vector<uint64_t>(8, 0), cn_data(8)});
}

// Channel W(k) composes X(k) and Y(k), both of which compose W(k-1): `levels`
// levels of three blocks stand for 2^levels leaf channels, appended to the
// CAN group.
inline tools::FileSpec shared_composition(unsigned levels) {
    tools::FileSpec file = can_file(2);
    add_raw_channel(file, "w0");
    for (unsigned k = 1; k <= levels; ++k) {
        const std::string w = "w" + std::to_string(k), x = "x" + std::to_string(k), y = "y" + std::to_string(k);
        for (const std::string& name : {w, x, y}) add_raw_channel(file, name);
        file.link_patches.push_back({w, 1, x});
        file.link_patches.push_back({x, 0, y});  // X(k) and Y(k) are W(k)'s composition chain
        file.link_patches.push_back({x, 1, "w" + std::to_string(k - 1)});
        file.link_patches.push_back({y, 1, "w" + std::to_string(k - 1)});
    }
    // W(levels) joins the end of the group's channel chain.
    size_t channels = file.data_groups[0].groups[0].channels.size();
    file.link_patches.push_back({"dg0.cg0.cn" + std::to_string(channels - 1), 0, "w" + std::to_string(levels)});
    return file;
}

// Appends a block to finished file bytes, on an 8-byte boundary; returns its offset.
inline uint64_t append_block(std::vector<uint8_t>& bytes, const char* id, const std::vector<uint64_t>& links,
                             const std::vector<uint8_t>& data, uint64_t length = 0) {
    while (bytes.size() % 8) bytes.push_back(0);
    const uint64_t offset = bytes.size();
    bytes.insert(bytes.end(), id, id + 4);
    bytes.resize(bytes.size() + 20, 0);
    tools::patch_le(bytes, offset + 8, length ? length : 24 + 8 * links.size() + data.size(), 8);
    tools::patch_le(bytes, offset + 16, links.size(), 8);
    for (uint64_t link : links) {
        bytes.resize(bytes.size() + 8, 0);
        tools::patch_le(bytes, bytes.size() - 8, link, 8);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return offset;
}

// `count` file history blocks whose comments are MD blocks nested 24 bytes
// apart, each running to the end of the file.
inline std::vector<uint8_t> nested_history_texts(size_t count) {
    std::vector<uint8_t> bytes = tools::write_mdf(can_file(2)).bytes;
    while (bytes.size() % 8) bytes.push_back(0);
    const uint64_t texts = bytes.size();
    bytes.resize(texts + 24 * count, 0);
    uint64_t next = 0;
    for (size_t i = count; i-- > 0;) {
        next = append_block(bytes, "##FH", {next, texts + 24 * i}, std::vector<uint8_t>(16, 0));
    }
    for (size_t i = 0; i < count; ++i) {
        const uint64_t at = texts + 24 * i;
        std::copy_n("##MD", 4, bytes.begin() + at);
        tools::patch_le(bytes, at + 8, bytes.size() - at, 8);
    }
    // The logger's own history entry goes on to the crafted ones.
    const uint64_t header = 64;
    const uint64_t first_history = tools::read_link(bytes, header, 1);
    tools::patch_link(bytes, first_history, 0, next);
    return bytes;
}

// A header comment whose properties sit below `depth` trees with names of
// `label_length` characters, holding `entries` entries.
inline tools::FileSpec deep_header_xml(size_t depth, size_t label_length, size_t entries) {
    tools::FileSpec file = can_file(2);
    std::string inner;
    for (size_t i = 0; i < depth; ++i) inner += "<tree name=\"" + std::string(label_length, char('a' + i % 26)) + "\">";
    for (size_t i = 0; i < entries; ++i) inner += "<e name=\"" + std::to_string(i) + "\"/>";
    for (size_t i = 0; i < depth; ++i) inner += "</tree>";
    std::string& xml = file.header.comment.text;
    xml.insert(xml.find("</common_properties>"), inner);
    return file;
}

// `sources` CAN bus sources, reached from the CAN group's acquisition source
// as a binary tree through their name and path links, all sharing one
// comment with `entries` properties.
inline tools::FileSpec shared_source_comment(size_t sources, size_t entries) {
    tools::FileSpec file = can_file(2);
    std::string xml = "<SIcomment><common_properties><tree name=\"Bus\">";
    for (size_t i = 0; i < entries; ++i) xml += "<e name=\"k" + std::to_string(i) + "\">v</e>";
    xml += "</tree></common_properties></SIcomment>";
    std::vector<uint8_t> md(xml.begin(), xml.end());
    file.extra_blocks.push_back({"shared", "##MD", {}, md});
    for (size_t i = 0; i < sources; ++i) {
        const std::string name = "si" + std::to_string(i);
        file.extra_blocks.push_back({name, "##SI", {0, 0, 0}, {2, 2, 0, 0, 0, 0, 0, 0}});
        file.link_patches.push_back({name, 2, "shared"});
        if (2 * i + 1 < sources) file.link_patches.push_back({name, 0, "si" + std::to_string(2 * i + 1)});
        if (2 * i + 2 < sources) file.link_patches.push_back({name, 1, "si" + std::to_string(2 * i + 2)});
    }
    file.link_patches.push_back({"dg0.cg0", 3, "si0"});
    return file;
}

// `groups` data groups after the first, each with a data block of its own
// holding one record, all linking the first group's channel group, which has
// `extra_channels` more channels (without names) than a CAN group.
inline tools::FileSpec groups_sharing_channel_group(size_t groups, size_t extra_channels) {
    tools::BusGroupOptions options;
    options.with_payload(tools::PayloadStorage::InRecord, uint32_t(extra_channels + 8));
    tools::FileSpec file = can_file(1, options);
    tools::ChannelGroupSpec& cg = file.data_groups[0].groups[0];
    for (size_t i = 0; i < extra_channels; ++i) {
        tools::ChannelSpec extra;  // a byte array without a role, passed over
        extra.data_type = tools::kByteArray;
        extra.bit_count = 8;
        cg.channels.push_back(extra);
    }
    const std::vector<uint8_t> record = file.data_groups[0].records;
    for (size_t i = 1; i <= groups; ++i) {
        tools::DataGroupSpec dg;
        dg.records = record;
        file.data_groups.push_back(dg);
        file.link_patches.push_back({"dg" + std::to_string(i), 1, "dg0.cg0"});
    }
    return file;
}

// One data group with 8-byte record ids k * 2^32 for k < `groups`: all but
// the last channel group are empty, the last is a CAN group with two frames.
inline tools::FileSpec colliding_record_ids(size_t groups) {
    tools::BusDataGroup bus(8);
    const uint64_t can_id = uint64_t(groups - 1) << 32;
    const size_t g = bus.add_group(tools::BusGroupKind::CanDataFrame, tools::BusGroupOptions().with_record_id(can_id));
    bus.add(g, tools::can_frame(0, 0x1, {1}));
    bus.add(g, tools::can_frame(1, 0x2, {2}));
    tools::DataGroupSpec dg = bus.take();
    std::vector<tools::ChannelGroupSpec> empty(groups - 1);
    for (size_t k = 0; k + 1 < groups; ++k) {
        empty[k].record_id = uint64_t(k) << 32;
        empty[k].data_bytes = dg.groups[0].data_bytes;
    }
    dg.groups.insert(dg.groups.begin(), empty.begin(), empty.end());
    tools::FileSpec file = tools::logger_file();
    file.data_groups.push_back(std::move(dg));
    return file;
}

// `groups` data groups after the first, without blocks of their own, all
// linking the first group's channel group and data block of `frames` frames.
inline tools::FileSpec groups_sharing_data_block(size_t groups, size_t frames) {
    tools::FileSpec file = can_file(frames);
    for (size_t i = 1; i <= groups; ++i) {
        tools::DataGroupSpec dg;
        dg.has_data_block = false;
        file.data_groups.push_back(dg);
        file.link_patches.push_back({"dg" + std::to_string(i), 1, "dg0.cg0"});
        file.link_patches.push_back({"dg" + std::to_string(i), 2, "dg0.dt"});
    }
    return file;
}

}  // namespace tracemill::testing_support
