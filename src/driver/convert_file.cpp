// Converting one log file: open, unwrap container layers, read the logger
// identity, skip repeats, hand every bus record to the output sink, delete on request.
#include <sys/types.h>

#include <cinttypes>
#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/log_escape.h"
#include "driver/conversion_context.h"
#include "driver/deletion_gate.h"
#include "driver/file_info.h"
#include "driver/password_store.h"
#include "driver/relation_order.h"
#include "mdf/mdf_file.h"
#include "mdf/record_iterator.h"
#include "streams/container_header.h"
#include "streams/container_layer.h"
#include "streams/mapped_stream.h"

namespace tracemill {
namespace {

// Result codes of one file, OR-combined into the exit status by the walk.
constexpr int kConverted = 0;
constexpr int kOtherFailure = 8;

// Puts a read buffer in front of `stream`: `buffer_size` bytes, the whole
// file (mapped where it can be) when negative, none when that comes to 0. False (stream released) when
// the buffer cannot be had.
bool add_read_buffer(StreamPtr& stream, int64_t buffer_size) {
    if (StreamPtr whole = buffer_size < 0 ? open_whole_input(stream) : nullptr) {
        stream = std::move(whole);
        return true;
    }
    int64_t size = buffer_size < 0 ? stream_size(stream.get()) : buffer_size;
    if (size <= 0) return true;
    stream = open_buffered_stream(std::move(stream), static_cast<uint64_t>(size));
    if (!stream) {
        TM_LOG(kError, "Could not allocate buffer of size %lld", static_cast<long long>(size));
        return false;
    }
    return true;
}

// The few words a failed layer gets in the run's summary.
std::string layer_failure_reason(const ContainerLayer& layer, const ContainerHeader& header,
                                 const LayerContext& context) {
    char reason[96];
    if (header.container_type == kContainerEncrypted && !context.password_for(header.device_id))
        snprintf(reason, sizeof reason, "no password for device %08X", header.device_id);
    else
        snprintf(reason, sizeof reason, "%s container could not be opened", layer.name);
    return reason;
}

// Replaces `stream` by the content of the container it holds. A result code
// other than kConverted ends the file.
int open_container_layer(StreamPtr& stream, const ContainerHeader& header, LayerContext& context,
                         FileResult& result) {
    const ContainerLayer* layer = find_container_layer(header.container_type);
    if (!layer) {
        result.reason = "unknown container type";
        return kOtherFailure;
    }
    TM_LOG(kInfo, "Found %s file", layer->name);
    result.layers.emplace_back(layer->name);
    LayerOpening opened = layer->open(stream.get(), header, context);
    if (!opened.content) {
        if (!opened.failure_logged) TM_LOG(kError, "%s", layer->failure_message);
        result.reason = layer_failure_reason(*layer, header, context);
        return layer->failure_result;
    }
    // The new stream holds the whole content: the container is done with.
    stream = std::move(opened.content);
    context.holds_secrets = context.holds_secrets || layer->yields_secrets;
    return kConverted;
}

// Peels layers until the stream is no container; layers nest in any order,
// but loggers write at most one of each kind (encrypted around compressed). A
// second layer of a kind is refused: compressed inside compressed multiplies
// the expansion (a few hundred bytes would ask for gigabytes), encrypted
// inside encrypted the key derivations; and the layers of a file stay as few
// as the kinds. `encrypted` is set when any layer was decrypted.
int unwrap_containers(StreamPtr& stream, const PasswordStore& passwords, bool& encrypted, FileResult& result) {
    LayerContext context;
    context.password_for = [&passwords](uint32_t device_id) { return find_password(passwords, device_id); };
    context.container_reusable = true;  // each container is replaced by its content
    ContainerHeader header;
    std::vector<const ContainerLayer*> opened;
    while (read_container_header(stream.get(), header)) {
        encrypted = encrypted || header.container_type == kContainerEncrypted;
        const ContainerLayer* layer = find_container_layer(header.container_type);
        if (layer && std::find(opened.begin(), opened.end(), layer) != opened.end()) {
            TM_LOG(kError, "Refusing to unwrap a second %s layer: a log file has at most one", layer->name);
            result.reason = std::string("a second ") + layer->name + " layer";
            return layer->failure_result;
        }
        opened.push_back(layer);
        const int code = open_container_layer(stream, header, context, result);
        if (code != kConverted) return code;
    }
    return kConverted;
}

// Reasons why the data of a converted file may not all be in its output.
void note_early_ends(const RecordIterator& records, DeletionGate& gate) {
    for (const GroupEnd& group : early_ends(records)) {
        char reason[160];
        if (!group.holds_bus_data)
            snprintf(reason, sizeof reason, "data group %" PRIu32 " holds records that are no bus frames",
                     group.group_number);
        else if (group.records_expected > group.records_read)
            snprintf(reason, sizeof reason, "data group %" PRIu32 " ends after %" PRIu64 " of %" PRIu64 " records",
                     group.group_number, group.records_read, group.records_expected);
        else
            snprintf(reason, sizeof reason, "data group %" PRIu32 " ends early after %" PRIu64 " records",
                     group.group_number, group.records_read);
        gate.keep(reason);
    }
}

// Hands the file's records to the sink between new_file and end_file; end_file
// is called whatever happened before, so the sink can tidy up. What stands in
// the way of deleting the input goes to `gate`.
bool run_sink(OutputSink& sink, MdfFile& file, const FileInfo& info, bool continuation, DeletionGate& gate,
              FileResult& result) {
    bool ok = true;
    if (!sink.new_file(info, continuation)) {
        TM_LOG(kError, "Error on new file");
        result.reason = "its trace could not be started";
        ok = false;
    } else if (RecordIteratorPtr records = begin_records(file); !records) {
        // Converting nothing would pass for success: the file fails instead.
        TM_LOG(kError, "Could not start reading records");
        result.reason = "its records could not be read";
        ok = false;
    } else {
        for (const BusRecord* record = current(*records); record; record = current(*records)) {
            if (!sink.record(*record)) {
                TM_LOG(kError, "Error during handle record callback");
                result.reason = "its trace could not be written";
                ok = false;
                break;
            }
            next_record(*records);
        }
        // A failed read (already logged) is no end of the data: the file fails.
        if (ok && (read_failed(*records) || take_mapped_input_failure())) {
            result.reason = "a read failed part-way";
            ok = false;
        }
        // So does a group that could not be set up for want of memory.
        for (const GroupEnd& group : early_ends(*records)) {
            if (!ok || group.end != RecordEnd::OutOfMemory) continue;
            TM_LOG(kError, "Out of memory while converting %s", escape_file_name(info.input_path).c_str());
            result.reason = "out of memory";
            ok = false;
        }
        if (ok) note_early_ends(*records, gate);
        end_records(std::move(records));
    }
    if (!sink.end_file(info)) {
        TM_LOG(kError, "Error during end file callback");
        if (ok) result.reason = "its trace could not be completed";
        ok = false;
    }
    const FileOutcome outcome = sink.outcome();
    result.passed_over = outcome.passed_over;
    result.frames = outcome.written;
    result.trace_path = outcome.output_path;
    result.outputs = published_outputs(outcome);
    result.bytes_written = outcome.bytes_written;
    if (ok) {
        if (outcome.passed_over.total() > 0)
            gate.keep(std::string(outcome.several_formats ? "it holds records none of its output formats has a notation for ("
                                                          : "it holds records its trace has no notation for (") +
                      passed_over_text(outcome.passed_over) + ")");
        if (!outcome.durable)
            gate.keep(outcome.several_formats ? "its outputs are not known to be safely on disk"
                                              : "its trace is not known to be safely on disk");
    }
    return ok;
}

int convert_one_file(ConversionContext& context, std::string_view input_path, std::string_view output_stem,
                     FileResult& result) {
    FileInfo info;
    info.input_path = input_path;
    info.output_stem = output_stem;

    OpenedInput input = context.input_root->open_input(input_path);
    if (!input.stream) {
        TM_LOG(kError, "Could not open input file %s", escape_file_name(input_path).c_str());
        result.reason = "could not be opened";
        return kOtherFailure;
    }
    const int64_t input_size = input.identity.known ? static_cast<int64_t>(input.identity.size)
                                                    : stream_size(input.stream.get());
    result.bytes_read = input_size > 0 ? static_cast<uint64_t>(input_size) : 0;
    StreamPtr stream = std::move(input.stream);
    if (!add_read_buffer(stream, context.options->buffer_size)) {
        result.reason = "no memory for its read buffer";
        return kOtherFailure;
    }
    if (int code = unwrap_containers(stream, context.options->passwords, info.encrypted, result); code != kConverted)
        return code;

    MdfFilePtr file = open_mdf(stream.get());
    if (!file) {
        TM_LOG(kError, "Could not open MDF");
        result.reason = "not a readable MDF4 file";
        stream_close(std::move(stream));
        return kOtherFailure;
    }
    if (!read_file_info(*file, info)) {
        TM_LOG(kError, "Could not parse file header");
        result.reason = "its file header could not be read";
        file.reset();
        stream_close(std::move(stream));
        return kOtherFailure;
    }
    result.serial = info.serial;
    result.session = info.session;
    result.split = info.split;

    FileRelation relation;
    if (context.order != nullptr) {
        relation = context.order->relate(context.ticket, info);
    } else {
        relation = relate_to_previous(context.previous, info);
        context.previous = info;
    }
    if (relation.repeated) {
        TM_LOG(kWarn, "Repeated input file (%s, %08" PRIu32 ", %08" PRIu32 ")", info.serial.c_str(), info.session,
               info.split);
        // A copy of the file just converted: no output, and the copy is kept.
        result.status = FileStatus::Repeated;
        file.reset();
        stream_close(std::move(stream));
        return kConverted;
    }

    DeletionGate gate;
    bool ok = run_sink(*context.sink, *file, info, relation.continuation, gate, result);
    file.reset();
    if (stream_close(std::move(stream)) != 0) {
        TM_LOG(kError, "Could not close input file after conversion: %s", escape_file_name(input_path).c_str());
        result.reason = "could not be closed after conversion";
        return kOtherFailure;
    }
    if (!ok) return kOtherFailure;
    if (context.options->delete_converted) {
        result.deleted = gate.remove_input(*context.input_root, input_path, input.identity);
        result.kept_because = gate.reasons();
    }
    return kConverted;
}

}  // namespace

int convert_file(ConversionContext& context, std::string_view input_path, std::string_view output_stem) {
    FileResult unwatched;
    FileResult& result = context.result != nullptr ? *context.result : unwatched;
    // Memory running out for one file's decoders, metadata or layouts ends that
    // file, not the run.
    try {
        const int code = convert_one_file(context, input_path, output_stem, result);
        // A mapped input that failed outside the records fails its file too.
        if (take_mapped_input_failure()) return (result.reason = "a read failed part-way", kOtherFailure);
        return code;
    } catch (const std::bad_alloc&) {
        TM_LOG(kError, "Out of memory while converting %s", escape_file_name(input_path).c_str());
        result.reason = "out of memory";
        return kOtherFailure;
    }
}

}  // namespace tracemill
