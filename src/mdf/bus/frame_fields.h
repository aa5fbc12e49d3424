// What the frame decoders of every bus kind share: reading a channel's value,
// storing it into a BusRecord field, and taking a payload's bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/log.h"
#include "mdf/bus_record.h"
#include "mdf/channel_decoder.h"
#include "mdf/record_layout.h"

namespace tracemill {

// A numeric channel's value as the stores take it. An unconverted integer of
// up to 53 bits is its own physical value exactly, so it is kept as an
// integer and the stores skip the round trip through floating point; they give
// the same results either way.
struct ChannelValue {
    bool is_integer;
    uint64_t integer;  // when is_integer
    double real;       // otherwise
};

// The value of a channel whose raw bits are `raw`.
inline ChannelValue value_of(const ChannelDecoder& decoder, bool integer_value, uint64_t raw) {
    if (integer_value) return {true, raw, 0};
    return {false, 0, physical_value(decoder, raw)};
}

// The value of a channel in a record of any size.
inline ChannelValue read_value(const ChannelDecoder& decoder, std::span<const uint8_t> record) {
    return value_of(decoder, decoder.integer_value, channel_bits(decoder, record));
}

// The field of `role` from the plan's last channel with that role, in a
// record of the size the plan was made for.
inline ChannelValue planned_value(const ChannelReadPlan& plan, ChannelRole role, std::span<const uint8_t> record) {
    const FieldStep& step = plan[role];
    const uint64_t raw =
        load_planned_field(step.load, record.data(), [&] { return read_channel_bits(*step.decoder, record); });
    return value_of(*step.decoder, step.integer_value, raw);
}

// The same for a role whose field the plan holds as an unconverted integer in
// a little-endian word (ChannelReadPlan::integer_words): the word alone.
inline ChannelValue integer_word_value(const ChannelReadPlan& plan, ChannelRole role, std::span<const uint8_t> record) {
    const FieldLoad& load = plan[role].load;
    uint64_t word;
    std::memcpy(&word, record.data() + load.byte, 8);
    return {true, (word << load.left) >> load.right, 0};
}

inline double as_real(const ChannelValue& value) {
    return value.is_integer ? static_cast<double>(value.integer) : value.real;
}

// The timestamp in a record of the size the plan was made for: by the plan's
// linear rule when it has one (ChannelReadPlan::linear_time), as any field
// otherwise.
inline double planned_time(const ChannelReadPlan& plan, std::span<const uint8_t> record) {
    if (!plan.linear_time) return as_real(planned_value(plan, kTimestampRole, record));
    const uint64_t raw = integer_word_value(plan, kTimestampRole, record).integer;
    return static_cast<double>(raw) * plan.time_factor + plan.time_offset;
}

// Stores of a physical value. Truncation toward zero; values that do not fit
// the integer they are taken as (NaN included) give 0, except for flags where
// anything but a truncated zero is set.
inline uint8_t as_flag(const ChannelValue& value) {
    if (value.is_integer) return value.integer != 0 ? 1 : 0;
    if (std::isnan(value.real)) return 1;
    return std::trunc(value.real) != 0 ? 1 : 0;
}

inline uint8_t as_byte_field(const ChannelValue& value) {
    if (value.is_integer) return value.integer <= 2147483647 ? static_cast<uint8_t>(value.integer) : 0;
    const double t = std::trunc(value.real);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return 0;
    return static_cast<uint8_t>(static_cast<int32_t>(t));
}

inline uint32_t as_id(const ChannelValue& value) {
    if (value.is_integer) return static_cast<uint32_t>(value.integer);  // below 2^53
    const double t = std::trunc(value.real);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(t));
}

// Appends the bytes of a signal entry: u32 length, then the bytes, of which
// those that are there are taken.
inline void append_signal_bytes(std::span<const uint8_t> signal, Payload& data) {
    if (signal.size() <= 4) return;
    uint32_t length;
    std::memcpy(&length, signal.data(), 4);  // little-endian host assumed, as everywhere in the reader
    data.append(signal.data() + 4, std::min<size_t>(length, signal.size() - 4));
}

// Appends a byte-array channel's bytes from the fixed record (out of line:
// the loggers keep payloads in signal entries).
void append_record_bytes(const ChannelDecoder& decoder, std::span<const uint8_t> record, Payload& data);

// Appends a byte-array channel's bytes: from the signal entry for
// variable-length data, else from the fixed record.
inline void append_byte_array(const ChannelDecoder& decoder, const RawRecord& raw, Payload& data) {
    if (decoder.data_link) append_signal_bytes(raw.signal, data);
    else append_record_bytes(decoder, raw.record, data);
}

// Every event starts from a clean record: the reader reuses one BusRecord,
// so nothing a group lacks may survive from the previous record.
inline void reset(BusRecord& record) {
    record.timestamp = 0;
    record.bus_channel = 0;
    record.id = 0;
    record.data.clear();
    record.details = BusRecordDetails{};
}

inline void cut_to_length(Payload& data, bool has_length, uint8_t length) {
    // Without a DataLength channel the whole payload stays.
    if (has_length) data.cut(length);
}

}  // namespace tracemill
