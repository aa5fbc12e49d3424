// Synthetic bus traffic from a seed: event kinds by weight, identifiers from a
// small per-file set, random payloads, increasing timestamps per data group.
#include "mdf_generator.h"

#include <cstdlib>
#include <string_view>

namespace tracemill::tools {
namespace {

// splitmix64: tiny, fast and identical on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    uint64_t state_;
};

enum class EventKind { Classic, Fd, Remote, Error, Lin, LinError };

struct Weighted {
    EventKind kind;
    uint32_t weight;
};

// The channel groups of one generated data group, by event kind.
struct GroupHandles {
    size_t can = 0, remote = 0, error = 0, lin = 0;
    size_t lin_errors[4] = {};
};

std::string can_source_xml(uint8_t bus) {
    return "<SIcomment><TX>CAN" + std::to_string(bus) +
           "</TX><common_properties><e name=\"bit rate\" unit=\"bit/s\">500000</e></common_properties></SIcomment>";
}

class Generator {
public:
    explicit Generator(const GeneratorOptions& options) : options_(options), ids_random_(options.seed) {
        for (auto& id : standard_ids_) id = 0x100 + ids_random_.below(0x6FF);
        for (auto& id : extended_ids_) id = 0x18000000 | ids_random_.below(0xFFFFFF);
        const FrameMix& m = options.mix;
        if (options.sorted) {
            kinds_ = {{EventKind::Classic, m.classic}, {EventKind::Fd, m.fd}};
        } else {
            kinds_ = {{EventKind::Classic, m.classic}, {EventKind::Fd, m.fd},   {EventKind::Remote, m.remote},
                      {EventKind::Error, m.error},     {EventKind::Lin, m.lin}, {EventKind::LinError, m.lin_errors}};
        }
        for (const auto& k : kinds_) total_weight_ += k.weight;
    }

    FileSpec generate();

private:
    bool uses(EventKind kind) const {
        for (const auto& k : kinds_) {
            if (k.kind == kind && k.weight) return true;
        }
        return false;
    }
    EventKind pick(Random& random) const {
        uint32_t r = random.below(total_weight_);
        for (const auto& k : kinds_) {
            if (r < k.weight) return k.kind;
            r -= k.weight;
        }
        return EventKind::Classic;
    }
    GroupHandles add_groups(BusDataGroup& group) const;
    void add_event(BusDataGroup& group, const GroupHandles& handles, Random& random, double time);
    uint32_t can_id(Random& random, bool& extended) const {
        extended = random.below(8) == 0;
        return extended ? extended_ids_[random.below(8)] : standard_ids_[random.below(24)];
    }
    void fill_payload(Random& random, std::vector<uint8_t>& data, size_t length) {
        data.resize(length);
        for (size_t i = 0; i < length; i += 8) {
            const uint64_t bits = random.next();
            for (size_t b = i; b < length && b < i + 8; ++b) data[b] = static_cast<uint8_t>(bits >> (8 * (b - i)));
        }
    }

    const GeneratorOptions& options_;
    Random ids_random_;
    uint32_t standard_ids_[24] = {};
    uint32_t extended_ids_[8] = {};
    std::vector<Weighted> kinds_;
    uint32_t total_weight_ = 0;
    CanFrame can_;  // reused so that payloads do not allocate per event
    LinFrame lin_;
};

GroupHandles Generator::add_groups(BusDataGroup& group) const {
    GroupHandles h;
    const bool fd = uses(EventKind::Fd);
    PayloadStorage payload = options_.payload;
    if (options_.sorted && payload == PayloadStorage::VlsdGroup) payload = PayloadStorage::SignalData;
    if (uses(EventKind::Classic) || fd) {
        h.can = group.add_group(BusGroupKind::CanDataFrame,
                                BusGroupOptions()
                                    .with_payload(payload, fd ? 64 : 8)
                                    .with_source({"CAN", kSourceTypeBus, kBusTypeCan, {can_source_xml(1), false}}));
    }
    if (uses(EventKind::Remote)) h.remote = group.add_group(BusGroupKind::CanRemoteFrame);
    if (uses(EventKind::Error)) h.error = group.add_group(BusGroupKind::CanErrorFrame);
    if (uses(EventKind::Lin)) {
        h.lin = group.add_group(BusGroupKind::LinFrame,
                                BusGroupOptions().with_payload(payload, 8).with_source(
                                    {"LIN", kSourceTypeBus, kBusTypeLin, {"", false}}));
    }
    if (uses(EventKind::LinError)) {
        const BusGroupKind kinds[4] = {BusGroupKind::LinChecksumError, BusGroupKind::LinReceiveError,
                                       BusGroupKind::LinTransmissionError, BusGroupKind::LinSyncError};
        for (int i = 0; i < 4; ++i) h.lin_errors[i] = group.add_group(kinds[i]);
    }
    return h;
}

void Generator::add_event(BusDataGroup& group, const GroupHandles& h, Random& random, double time) {
    static constexpr uint8_t kFdLengths[] = {12, 16, 20, 24, 32, 48, 64};
    const EventKind kind = pick(random);
    switch (kind) {
        case EventKind::Classic:
        case EventKind::Fd: {
            const bool fd = kind == EventKind::Fd;
            can_.time = time;
            can_.bus = static_cast<uint8_t>(1 + random.below(2));
            can_.id = can_id(random, can_.ide);
            can_.dir = random.below(10) == 0;
            can_.edl = fd;
            can_.brs = fd && random.below(4) != 0;
            size_t length = random.below(4) == 0 ? random.below(9) : 8;
            if (fd && random.below(2)) length = kFdLengths[random.below(7)];
            fill_payload(random, can_.data, length);
            group.add(h.can, can_);
            return;
        }
        case EventKind::Remote: {
            CanRemoteFrame frame = remote_frame(time, 0, static_cast<uint8_t>(random.below(9)));
            frame.id = can_id(random, frame.ide);
            group.add(h.remote, frame);
            return;
        }
        case EventKind::Error:
            group.add(h.error, error_frame(time, static_cast<uint8_t>(1 + random.below(5)), static_cast<uint8_t>(1 + random.below(2))));
            return;
        case EventKind::Lin:
            lin_.time = time;
            lin_.id = static_cast<uint8_t>(random.below(64));
            lin_.dir = random.below(2) != 0;
            fill_payload(random, lin_.data, 1 + random.below(8));
            group.add(h.lin, lin_);
            return;
        case EventKind::LinError: {
            const uint32_t which = random.below(4);
            if (which == 0) {
                lin_.time = time;
                lin_.id = static_cast<uint8_t>(random.below(64));
                fill_payload(random, lin_.data, 1 + random.below(8));
                group.add(h.lin_errors[0], lin_);
            } else {
                group.add(h.lin_errors[which], lin_error(time, static_cast<uint8_t>(random.below(64))));
            }
            return;
        }
    }
}

FileSpec Generator::generate() {
    FileSpec spec = logger_file(options_.logger, options_.start_time_ns);
    spec.header.tz_offset_min = options_.tz_offset_min;
    spec.finalised = options_.finalised;
    const uint32_t data_groups = options_.data_groups ? options_.data_groups : 1;
    if (total_weight_ == 0) {
        for (uint32_t g = 0; g < data_groups; ++g) spec.data_groups.emplace_back();
        return spec;
    }
    for (uint32_t g = 0; g < data_groups; ++g) {
        BusDataGroup group(options_.sorted ? 0 : 1);
        const GroupHandles handles = add_groups(group);
        Random random(options_.seed * 0x100000001b3ULL + g + 1);
        const uint64_t count = options_.frames / data_groups + (g < options_.frames % data_groups ? 1 : 0);
        double time = 0;
        for (uint64_t i = 0; i < count; ++i) {
            time += options_.mean_gap_s * 2 * random.unit();
            add_event(group, handles, random, time);
        }
        spec.data_groups.push_back(group.take());
    }
    return spec;
}

}  // namespace

bool parse_frame_mix(const std::string& text, FrameMix& mix) {
    FrameMix parsed{0, 0, 0, 0, 0, 0};
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos || eq + 1 >= item.size()) return false;
        const std::string_view name = item.substr(0, eq);
        const std::string number(item.substr(eq + 1));
        char* end = nullptr;
        const unsigned long weight = std::strtoul(number.c_str(), &end, 10);
        if (*end != '\0' || number[0] == '-' || weight > 1'000'000) return false;
        const auto w = static_cast<uint32_t>(weight);
        if (name == "classic") parsed.classic = w;
        else if (name == "fd") parsed.fd = w;
        else if (name == "remote") parsed.remote = w;
        else if (name == "error") parsed.error = w;
        else if (name == "lin") parsed.lin = w;
        else if (name == "linerr") parsed.lin_errors = w;
        else return false;
    }
    mix = parsed;
    return true;
}

FileSpec generate_log(const GeneratorOptions& options) { return Generator(options).generate(); }

}  // namespace tracemill::tools
