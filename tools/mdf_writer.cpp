// Turns a FileSpec into MDF4 blocks: one function per block kind fills its
// data section and links; the layout places the blocks and resolves links.
#include "mdf_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "mdf_layout.h"

namespace tracemill::tools {
namespace {

// Link counts of the block kinds, as the format fixes them.
constexpr size_t kHdLinks = 6, kFhLinks = 2, kDgLinks = 4, kCgLinks = 6, kCnLinks = 8, kCcLinks = 4, kSiLinks = 3;

class FileBuilder {
public:
    explicit FileBuilder(const FileSpec& spec) : spec_(spec) {}

    void build();
    void fill_id_block(uint8_t* out) const;
    MdfLayout& layout() { return layout_; }

private:
    size_t add_text(const std::string& name, std::string_view id, std::string_view text);
    std::optional<size_t> add_comment(const std::string& name, const CommentSpec& comment);
    size_t add_header();
    size_t add_history(size_t index);
    size_t add_data_group(size_t index);
    size_t add_channel_group(const std::string& name, const ChannelGroupSpec& group);
    size_t add_channel(const std::string& name, const ChannelSpec& channel, const std::vector<size_t>& groups);
    size_t add_conversion(const std::string& name, const ConversionSpec& conversion);
    size_t add_source(const std::string& name, const SourceSpec& source);
    void link_optional(size_t from, size_t link, std::optional<size_t> target);
    void apply_patches();

    const FileSpec& spec_;
    MdfLayout layout_;
    std::vector<size_t> data_blocks_;  // DT blocks in data group order, placed last
    std::vector<std::pair<size_t, size_t>> pending_dt_links_;  // (DG block, data group index)
};

size_t FileBuilder::add_text(const std::string& name, std::string_view id, std::string_view text) {
    std::vector<uint8_t> data;
    put_text(data, text);
    data.push_back(0);
    put_zeros(data, (8 - data.size() % 8) % 8);
    return layout_.add(id, 0, std::move(data), name);
}

std::optional<size_t> FileBuilder::add_comment(const std::string& name, const CommentSpec& comment) {
    if (comment.text.empty()) return std::nullopt;
    return add_text(name, comment.as_tx ? "##TX" : "##MD", comment.text);
}

void FileBuilder::link_optional(size_t from, size_t link, std::optional<size_t> target) {
    if (target) layout_.set_link(from, link, LinkTarget::block(*target));
}

size_t FileBuilder::add_header() {
    const HeaderSpec& hd = spec_.header;
    std::vector<uint8_t> data;
    put_u64(data, hd.start_time_ns);
    put_u16(data, static_cast<uint16_t>(hd.tz_offset_min));
    put_u16(data, static_cast<uint16_t>(hd.dst_offset_min));
    put_u8(data, hd.time_flags);
    put_u8(data, 0);  // time class
    put_u8(data, 0);  // flags
    put_u8(data, 0);  // reserved
    put_f64(data, 0.0);  // start angle
    put_f64(data, 0.0);  // start distance
    const size_t block = layout_.add("##HD", kHdLinks, std::move(data), "hd");
    link_optional(block, 5, add_comment("hd.comment", hd.comment));
    return block;
}

size_t FileBuilder::add_history(size_t index) {
    const HistorySpec& fh = spec_.history[index];
    const std::string name = "fh" + std::to_string(index);
    std::vector<uint8_t> data;
    put_u64(data, fh.time_ns);
    put_u16(data, static_cast<uint16_t>(fh.tz_offset_min));
    put_u16(data, static_cast<uint16_t>(fh.dst_offset_min));
    put_u8(data, 0);  // time flags
    put_zeros(data, 3);
    const size_t block = layout_.add("##FH", kFhLinks, std::move(data), name);
    link_optional(block, 1, add_comment(name + ".comment", fh.comment));
    return block;
}

size_t FileBuilder::add_conversion(const std::string& name, const ConversionSpec& cc) {
    std::vector<uint8_t> data;
    put_u8(data, cc.type);
    put_u8(data, 0);  // precision
    put_u16(data, 0);  // flags
    put_u16(data, cc.ref_count);
    put_u16(data, static_cast<uint16_t>(cc.values.size()));
    put_f64(data, 0.0);  // physical range
    put_f64(data, 0.0);
    for (double v : cc.values) put_f64(data, v);
    const size_t block = layout_.add("##CC", kCcLinks + cc.ref_count, std::move(data), name);
    if (!cc.name.empty()) link_optional(block, 0, add_text(name + ".name", "##TX", cc.name));
    return block;
}

size_t FileBuilder::add_source(const std::string& name, const SourceSpec& si) {
    std::vector<uint8_t> data;
    put_u8(data, si.source_type);
    put_u8(data, si.bus_type);
    put_u8(data, 0);  // flags
    put_zeros(data, 5);
    const size_t block = layout_.add("##SI", kSiLinks, std::move(data), name);
    if (!si.name.empty()) link_optional(block, 0, add_text(name + ".name", "##TX", si.name));
    link_optional(block, 2, add_comment(name + ".comment", si.comment));
    return block;
}

// `groups` maps channel group index -> CG block of the same data group, for VLSD links.
size_t FileBuilder::add_channel(const std::string& name, const ChannelSpec& cn, const std::vector<size_t>& groups) {
    std::vector<uint8_t> data;
    put_u8(data, cn.channel_type);
    put_u8(data, cn.sync_type);
    put_u8(data, cn.data_type);
    put_u8(data, cn.bit_offset);
    put_u32(data, cn.byte_offset);
    put_u32(data, cn.bit_count);
    put_u32(data, cn.flags);
    put_u32(data, 0);  // invalidation bit position
    put_u8(data, 0);   // precision
    put_u8(data, 0);   // reserved
    put_u16(data, cn.attachment_count);
    for (int i = 0; i < 6; ++i) put_f64(data, 0.0);  // value range and limits
    const size_t block = layout_.add("##CN", kCnLinks + cn.attachment_count, std::move(data), name);

    if (!cn.name.empty()) link_optional(block, 2, add_text(name + ".name", "##TX", cn.name));
    if (cn.source) layout_.set_link(block, 3, LinkTarget::block(add_source(name + ".si", *cn.source)));
    if (cn.conversion) layout_.set_link(block, 4, LinkTarget::block(add_conversion(name + ".cc", *cn.conversion)));
    if (!cn.unit.empty()) link_optional(block, 6, add_text(name + ".unit", "##TX", cn.unit));
    link_optional(block, 7, add_comment(name + ".comment", cn.comment));

    std::optional<size_t> previous;
    for (size_t i = 0; i < cn.members.size(); ++i) {
        const size_t member = add_channel(name + ".cn" + std::to_string(i), cn.members[i], groups);
        layout_.set_link(previous ? *previous : block, previous ? 0 : 1, LinkTarget::block(member));
        previous = member;
    }
    if (cn.channel_type == kVariableLength) {
        if (cn.vlsd_group) {
            if (*cn.vlsd_group < groups.size()) layout_.set_link(block, 5, LinkTarget::block(groups[*cn.vlsd_group]));
        } else {
            layout_.set_link(block, 5, LinkTarget::block(layout_.add_borrowed("##SD", cn.signal_data, name + ".sd")));
        }
    }
    return block;
}

size_t FileBuilder::add_channel_group(const std::string& name, const ChannelGroupSpec& cg) {
    std::vector<uint8_t> data;
    put_u64(data, cg.record_id);
    put_u64(data, cg.cycle_count);
    put_u16(data, cg.flags);
    put_u16(data, 0);  // path separator
    put_u32(data, 0);  // reserved
    put_u32(data, cg.data_bytes);
    put_u32(data, cg.inval_bytes);
    const size_t block = layout_.add("##CG", kCgLinks, std::move(data), name);
    if (!cg.acq_name.empty()) link_optional(block, 2, add_text(name + ".acq_name", "##TX", cg.acq_name));
    if (cg.acq_source) layout_.set_link(block, 3, LinkTarget::block(add_source(name + ".si", *cg.acq_source)));
    link_optional(block, 5, add_comment(name + ".comment", cg.comment));
    return block;
}

size_t FileBuilder::add_data_group(size_t index) {
    const DataGroupSpec& dg = spec_.data_groups[index];
    const std::string name = "dg" + std::to_string(index);
    std::vector<uint8_t> data;
    put_u8(data, dg.record_id_size);
    put_zeros(data, 7);
    const size_t block = layout_.add("##DG", kDgLinks, std::move(data), name);
    link_optional(block, 3, add_comment(name + ".comment", dg.comment));

    // Channel group blocks first, so that VLSD channels can link to any of them.
    std::vector<size_t> groups;
    for (size_t g = 0; g < dg.groups.size(); ++g) {
        groups.push_back(add_channel_group(name + ".cg" + std::to_string(g), dg.groups[g]));
        layout_.set_link(g == 0 ? block : groups[g - 1], g == 0 ? 1 : 0, LinkTarget::block(groups[g]));
    }
    for (size_t g = 0; g < dg.groups.size(); ++g) {
        std::optional<size_t> previous;
        const auto& channels = dg.groups[g].channels;
        for (size_t c = 0; c < channels.size(); ++c) {
            const size_t cn = add_channel(name + ".cg" + std::to_string(g) + ".cn" + std::to_string(c), channels[c], groups);
            layout_.set_link(previous ? *previous : groups[g], previous ? 0 : 1, LinkTarget::block(cn));
            previous = cn;
        }
    }
    if (dg.has_data_block) pending_dt_links_.emplace_back(block, index);
    return block;
}

void FileBuilder::apply_patches() {
    for (const LinkPatch& patch : spec_.link_patches) {
        const auto from = layout_.find(patch.block);
        if (!from) continue;
        if (patch.target.empty()) {
            layout_.set_link(*from, patch.link, LinkTarget::raw(patch.raw_offset));
        } else if (const auto to = layout_.find(patch.target)) {
            layout_.set_link(*from, patch.link, LinkTarget::block(*to));
        }
    }
}

void FileBuilder::build() {
    const size_t hd = add_header();
    std::optional<size_t> previous;
    for (size_t i = 0; i < spec_.history.size(); ++i) {
        const size_t fh = add_history(i);
        layout_.set_link(previous ? *previous : hd, previous ? 0 : 1, LinkTarget::block(fh));
        previous = fh;
    }
    previous.reset();
    for (size_t i = 0; i < spec_.data_groups.size(); ++i) {
        const size_t dg = add_data_group(i);
        layout_.set_link(previous ? *previous : hd, 0, LinkTarget::block(dg));
        previous = dg;
    }
    for (const RawBlockSpec& raw : spec_.extra_blocks) {
        const size_t block = layout_.add(raw.id, raw.raw_links.size(), raw.data, raw.name);
        for (size_t l = 0; l < raw.raw_links.size(); ++l) layout_.set_link(block, l, LinkTarget::raw(raw.raw_links[l]));
    }
    // Data blocks last, in data group order, as a logger appends them.
    for (const auto& [dg_block, index] : pending_dt_links_) {
        const std::string name = "dg" + std::to_string(index) + ".dt";
        const size_t dt = layout_.add_borrowed("##DT", spec_.data_groups[index].records, name);
        layout_.set_link(dg_block, 2, LinkTarget::block(dt));
        data_blocks_.push_back(dt);
    }
    if (!spec_.finalised && !data_blocks_.empty()) {
        layout_.block(data_blocks_.back()).length_field = spec_.unset_data_length;
    }
    apply_patches();
}

void FileBuilder::fill_id_block(uint8_t* out) const {
    std::vector<uint8_t> id;
    put_text(id, spec_.finalised ? "MDF     " : "UnFinMF ");
    std::string version = spec_.version_text;
    version.resize(8, ' ');
    put_text(id, version);
    std::string program = spec_.program_id;
    program.resize(8, ' ');
    put_text(id, program);
    put_zeros(id, 4);
    put_u16(id, spec_.version);
    put_zeros(id, 30);
    put_u16(id, spec_.finalised ? 0 : spec_.unfinalized_flags);
    put_u16(id, spec_.finalised ? 0 : spec_.custom_unfinalized_flags);
    std::memcpy(out, id.data(), kIdBlockSize);
}

}  // namespace

ConversionSpec ConversionSpec::linear(double offset, double factor) {
    return ConversionSpec{kLinearConversion, {offset, factor}, 0, {}};
}

ConversionSpec ConversionSpec::value_table(const std::vector<std::pair<double, double>>& pairs) {
    ConversionSpec cc{kValueTableConversion, {}, 0, {}};
    for (const auto& [key, value] : pairs) {
        cc.values.push_back(key);
        cc.values.push_back(value);
    }
    return cc;
}

uint64_t MdfImage::offset_of(std::string_view name) const {
    const uint64_t* offset = offsets.find(name);
    return offset ? *offset : 0;
}

MdfImage write_mdf(const FileSpec& spec) {
    FileBuilder builder(spec);
    builder.build();
    MdfLayout& layout = builder.layout();
    MdfImage image;
    image.bytes.reserve(layout.place());
    uint8_t id[kIdBlockSize];
    builder.fill_id_block(id);
    layout.emit(std::span<const uint8_t, kIdBlockSize>(id, kIdBlockSize),
                [&](const uint8_t* p, size_t n) { image.bytes.insert(image.bytes.end(), p, p + n); });
    image.offsets.insert("id", 0);
    for (size_t i = 0; i < layout.block_count(); ++i) {
        const LayoutBlock& block = layout.block(i);
        if (!block.name.empty()) image.offsets.insert(block.name, block.offset);
    }
    return image;
}

namespace {
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
}  // namespace

bool write_mdf_file(const FileSpec& spec, const std::string& path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    FileBuilder builder(spec);
    builder.build();
    MdfLayout& layout = builder.layout();
    layout.place();
    uint8_t id[kIdBlockSize];
    builder.fill_id_block(id);
    bool ok = true;
    layout.emit(std::span<const uint8_t, kIdBlockSize>(id, kIdBlockSize), [&](const uint8_t* p, size_t n) {
        if (ok && std::fwrite(p, 1, n, file.get()) != n) ok = false;
    });
    return std::fclose(file.release()) == 0 && ok;
}

bool write_bytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && ok;
}

void patch_le(std::vector<uint8_t>& bytes, uint64_t offset, uint64_t value, size_t width) {
    for (size_t i = 0; i < width && offset + i < bytes.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void patch_link(std::vector<uint8_t>& bytes, uint64_t block_offset, size_t link, uint64_t target) {
    patch_le(bytes, block_offset + kBlockHeaderSize + 8 * link, target, 8);
}

void patch_block_id(std::vector<uint8_t>& bytes, uint64_t block_offset, std::string_view id) {
    for (size_t i = 0; i < 4 && i < id.size() && block_offset + i < bytes.size(); ++i) bytes[block_offset + i] = static_cast<uint8_t>(id[i]);
}

uint64_t read_link(std::span<const uint8_t> bytes, uint64_t block_offset, size_t link) {
    return get_le(bytes, block_offset + kBlockHeaderSize + 8 * link, 8);
}

void RecordAppender::append_record_id(size_t group) {
    put_le(data_group_.records, data_group_.groups[group].record_id, data_group_.record_id_size > 8 ? 8 : data_group_.record_id_size);
    if (data_group_.record_id_size > 8) put_zeros(data_group_.records, data_group_.record_id_size - 8u);
}

void RecordAppender::append_record(size_t group, std::span<const uint8_t> fixed) {
    append_record_id(group);
    data_group_.records.insert(data_group_.records.end(), fixed.begin(), fixed.end());
    ++data_group_.groups[group].cycle_count;
}

void RecordAppender::append_vlsd_record(size_t vlsd_group, std::span<const uint8_t> payload) {
    append_record_id(vlsd_group);
    put_u32(data_group_.records, static_cast<uint32_t>(payload.size()));
    data_group_.records.insert(data_group_.records.end(), payload.begin(), payload.end());
    ++data_group_.groups[vlsd_group].cycle_count;
}

uint64_t RecordAppender::append_signal_entry(ChannelSpec& channel, std::span<const uint8_t> payload) {
    const uint64_t offset = channel.signal_data.size();
    put_u32(channel.signal_data, static_cast<uint32_t>(payload.size()));
    channel.signal_data.insert(channel.signal_data.end(), payload.begin(), payload.end());
    return offset;
}

std::string logger_properties_xml(const LoggerProperties& p) {
    std::string xml = "<HDcomment><TX>Bus log</TX><common_properties>";
    xml += "<tree name=\"Device\"><e name=\"serial number\" ro=\"true\">" + p.serial + "</e>";
    for (const auto& [key, value] : p.extra) xml += "<e name=\"" + key + "\">" + value + "</e>";
    xml += "</tree><tree name=\"Log\"><e name=\"session\" type=\"integer\" ro=\"true\">" + std::to_string(p.session) + "</e>";
    xml += "<e name=\"split\" type=\"integer\" ro=\"true\">" + std::to_string(p.split) + "</e></tree>";
    xml += "</common_properties></HDcomment>";
    return xml;
}

std::string tool_history_xml(std::string_view tool_id) {
    std::string xml = "<FHcomment><TX>Created by the logger</TX><tool_id>";
    xml += tool_id;
    xml += "</tool_id><tool_version>1.0.0</tool_version></FHcomment>";
    return xml;
}

FileSpec logger_file(const LoggerProperties& properties, uint64_t start_time_ns) {
    FileSpec spec;
    spec.header.start_time_ns = start_time_ns;
    spec.header.comment.text = logger_properties_xml(properties);
    HistorySpec history;
    history.time_ns = start_time_ns;
    history.comment.text = tool_history_xml();
    spec.history.push_back(std::move(history));
    return spec;
}

FileSpec logger_file(std::string serial, uint32_t session, uint32_t split, uint64_t start_time_ns) {
    LoggerProperties properties;
    properties.serial = std::move(serial);
    properties.session = session;
    properties.split = split;
    return logger_file(properties, start_time_ns);
}

}  // namespace tracemill::tools
