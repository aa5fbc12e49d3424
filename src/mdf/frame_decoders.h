// The frame decoders: one per kind of bus event, each filling a BusRecord
// from a raw record by the roles of the group's channels.
#pragma once

#include "mdf/bus_record.h"
#include "mdf/record_layout.h"

namespace tracemill {

bool decode_unsupported(const RawRecord& raw, BusRecord& record);
bool decode_can_data_frame(const RawRecord& raw, BusRecord& record);
bool decode_can_remote_frame(const RawRecord& raw, BusRecord& record);
bool decode_can_error_frame(const RawRecord& raw, BusRecord& record);
bool decode_lin_frame(const RawRecord& raw, BusRecord& record);
bool decode_lin_checksum_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_receive_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_transmission_error(const RawRecord& raw, BusRecord& record);
bool decode_lin_sync_error(const RawRecord& raw, BusRecord& record);

// The decoder for a kind; decode_unsupported for Unsupported.
FrameDecoder frame_decoder_for(BusRecordKind kind);

// The kind a decoder produces; Unsupported for anything else.
BusRecordKind frame_decoder_kind(FrameDecoder decoder);

// Remote frames carry no payload; their length becomes this many zero bytes at most.
inline constexpr uint64_t kMaxRemoteDataLength = 64;

}  // namespace tracemill
