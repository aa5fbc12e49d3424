#include "driver/parallel_conversion.h"

#include <system_error>
#include <utility>

#include "driver/input_walk.h"

namespace tracemill {

ParallelConversion::ParallelConversion(const ConversionContext& base, FileConverter convert, SinkFactory new_sink)
    : base_(base), convert_(std::move(convert)), new_sink_(std::move(new_sink)) {}

ParallelConversion::~ParallelConversion() { finish(); }

bool ParallelConversion::start(int workers) {
    for (int i = 0; i < workers; ++i) {
        std::unique_ptr<OutputSink> sink = new_sink_();
        if (!sink) {
            TM_LOG(kFatal, "Could not create the trace writer");
            break;
        }
        ConversionContext context = base_;
        context.sink = sink.get();
        context.order = &order_;
        context.parallel = nullptr;
        context.observer = nullptr;
        context.result = nullptr;
        try {
            threads_.emplace_back(&ParallelConversion::work, this, context);
        } catch (const std::system_error&) {
            TM_LOG(kWarn, "Could not start conversion thread %d of %d", i + 1, workers);
            break;
        }
        sinks_.push_back(std::move(sink));
    }
    if (threads_.empty()) {
        finished_ = true;
        return false;
    }
    walk_lines_.emplace(kInfo, std::string(), true);
    return true;
}

void ParallelConversion::submit(std::string input, std::string stem, std::string lines, std::string heading) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A second input with the same output path learns whether the first one's
    // trace was published only when that one is done.
    if (!stems_.insert(stem).second) job_done_.wait(lock, [this] { return unfinished_ == 0; });
    std::string before = walk_lines_->take_lines();
    if (!before.empty()) add_slot(std::move(before), std::nullopt, true);
    const uint64_t slot = add_slot(std::string(), std::nullopt, false);
    jobs_.push_back({slot, next_ticket_++, std::move(input), std::move(stem), std::move(lines), std::move(heading)});
    ++unfinished_;
    emit_ready();
    job_added_.notify_one();
}

bool ParallelConversion::wait_when_met_before(const PathInfo& info) {
    if (info.device == 0 && info.inode == 0) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (identities_.insert({info.device, info.inode}).second) return false;
    job_done_.wait(lock, [this] { return unfinished_ == 0; });
    return true;
}

void ParallelConversion::settled(FileResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    add_slot(walk_lines_->take_lines(), std::move(result), true);
    emit_ready();
}

int ParallelConversion::finish() {
    if (finished_) return result_;
    finished_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string before = walk_lines_->take_lines();
        if (!before.empty()) add_slot(std::move(before), std::nullopt, true);
        closing_ = true;
    }
    job_added_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    walk_lines_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    emit_ready();
    return result_;
}

void ParallelConversion::work(ConversionContext context) {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            job_added_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        run_job(context, job);
    }
}

void ParallelConversion::run_job(ConversionContext& context, const Job& job) {
    FileResult result;
    result.input_path = job.input;
    std::string lines = job.lines;
    int code;
    {
        LogCapture capture(kInfo, job.heading, true);
        context.ticket = job.ticket;
        code = convert_log_file(context, convert_, job.input, job.stem, result);
        order_.pass(job.ticket);
        lines += capture.take_lines();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[job.slot - emitted_];
    slot.lines = std::move(lines);
    slot.result = std::move(result);
    slot.done = true;
    result_ |= code;
    --unfinished_;
    emit_ready();
    job_done_.notify_all();
}

uint64_t ParallelConversion::add_slot(std::string lines, std::optional<FileResult> result, bool done) {
    slots_.push_back({std::move(lines), std::move(result), done});
    return emitted_ + slots_.size() - 1;
}

void ParallelConversion::emit_ready() {
    while (!slots_.empty() && slots_.front().done) {
        Slot& slot = slots_.front();
        write_log_text(slot.lines);
        if (slot.result && base_.observer != nullptr) base_.observer->file_done(*slot.result);
        slots_.pop_front();
        ++emitted_;
    }
}

}  // namespace tracemill
