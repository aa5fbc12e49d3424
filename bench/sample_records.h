// The CAN records the line benchmarks format: the same for every format, so
// that their rates compare.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "mdf/bus_record.h"

namespace tracemill::bench {

constexpr size_t kRecordCount = 4096;  // cycled through, so the records stay in cache

// Mostly classic 8-byte frames, some shorter ones, every 16th a CAN FD frame
// of up to 64 bytes; offsets grow as in a log of a few minutes.
inline std::vector<BusRecord> sample_records(bool with_fd) {
    std::mt19937_64 random(7);
    std::vector<BusRecord> records(kRecordCount);
    double time = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        BusRecord& r = records[i];
        time += static_cast<double>(random() % 1000) * 1e-6;
        r.timestamp = time;
        r.kind = BusRecordKind::CanDataFrame;
        r.bus_channel = static_cast<uint8_t>(1 + random() % 2);
        r.details.can = CanDetails{};
        r.details.can.ide = random() % 8 == 0;
        r.id = r.details.can.ide ? static_cast<uint32_t>(0x18000000 | (random() & 0xFFFFFF))
                                 : static_cast<uint32_t>(random() & 0x7FF);
        size_t length = random() % 10 == 0 ? random() % 8 : 8;
        if (with_fd && i % 16 == 0) {
            r.details.can.edl = 1;
            r.details.can.brs = 1;
            length = 64;
            r.details.can.dlc = 15;
        } else {
            r.details.can.dlc = static_cast<uint8_t>(length);
        }
        std::vector<uint8_t> data(length);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        r.data = std::move(data);
    }
    return records;
}

}  // namespace tracemill::bench
