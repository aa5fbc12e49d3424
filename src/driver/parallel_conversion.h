// Converting several files at once: the walk goes on in input order on its
// own thread and hands each log file to one of N workers, each with an output
// sink of its own. What a user sees stays as in a run on one thread: every
// file's log lines and result reach standard error and the observer in input
// order, the walk's own lines keep their place between them, and each file
// relates to the one before it in input order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "common/log.h"
#include "driver/conversion_context.h"
#include "driver/file_system_root.h"
#include "driver/relation_order.h"

namespace tracemill {

using SinkFactory = std::function<std::unique_ptr<OutputSink>()>;

class ParallelConversion {
public:
    // `base` gives roots, options and observer; each worker gets a sink from `new_sink`.
    ParallelConversion(const ConversionContext& base, FileConverter convert, SinkFactory new_sink);
    ~ParallelConversion();  // finishes, when finish() was not called
    ParallelConversion(const ParallelConversion&) = delete;
    ParallelConversion& operator=(const ParallelConversion&) = delete;

    // Starts `workers` threads; false (logged) when a sink or a thread cannot be had.
    bool start(int workers);
    // Queues one log file; called by the walk, in input order. `lines` were
    // logged about it already, under `heading` unless they are empty.
    void submit(std::string input, std::string stem, std::string lines, std::string heading);
    // A path the walk settled itself, told to the observer in its place.
    void settled(FileResult result);
    // True, after waiting for every file queued so far, when a file with the
    // identity of `info` was met before: only then does the walk know whether
    // an earlier file deleted it, as it would one file at a time.
    bool wait_when_met_before(const PathInfo& info);
    // Waits for every file; the OR of their results.
    int finish();

private:
    struct Slot {
        std::string lines;
        std::optional<FileResult> result;
        bool done = false;
    };
    struct Job {
        uint64_t slot;
        uint64_t ticket;
        std::string input;
        std::string stem;
        std::string lines;    // logged by the walk about this file
        std::string heading;  // for the first line the worker logs; empty when `lines` has it
    };

    void work(ConversionContext context);
    void run_job(ConversionContext& context, const Job& job);
    uint64_t add_slot(std::string lines, std::optional<FileResult> result, bool done);
    void complete(uint64_t slot, std::string lines, FileResult result, int code);
    void emit_ready();  // with mutex_ held

    ConversionContext base_;
    FileConverter convert_;
    SinkFactory new_sink_;
    RelationOrder order_;
    std::optional<LogCapture> walk_lines_;  // the walk thread's lines between files
    std::vector<std::unique_ptr<OutputSink>> sinks_;
    std::vector<std::thread> threads_;

    std::mutex mutex_;
    std::condition_variable job_added_;
    std::condition_variable job_done_;
    std::deque<Job> jobs_;
    std::deque<Slot> slots_;  // slots_[0] is slot number `emitted_`
    uint64_t emitted_ = 0;
    uint64_t next_ticket_ = 0;
    uint64_t unfinished_ = 0;  // files submitted and not yet converted
    bool closing_ = false;
    bool finished_ = false;
    int result_ = 0;
    std::unordered_set<std::string> stems_;  // submitted so far
    std::set<std::pair<uint64_t, uint64_t>> identities_;  // device and inode of the files met
};

}  // namespace tracemill
