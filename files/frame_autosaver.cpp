#include "files/frame_autosaver.h"

#include <utility>
#include <vector>

#include "files/frame_file.h"
#include "files/frame_writer_factory.h"
#include "files/hdf5_frame_writer.h"
#include "files/ordered_writer.h"

namespace ulvarin {

FrameAutosaver::FrameAutosaver(std::function<void()> onFailure, size_t queueBytes,
                               int formatThreads)
    : onFailure_(std::move(onFailure)),
      text_(formatThreads),
      writer_(std::make_unique<OrderedWriter>(queueBytes)) {}

FrameAutosaver::~FrameAutosaver() {
    writer_.reset();
}

std::optional<std::string> FrameAutosaver::Save(std::span<const int32_t> counts,
                                                const RunDescription& run, double exposure) {
    auto job = std::make_shared<Job>();
    job->target.number = name_.number;
    job->target.lastFileNumberBefore = name_.lastFileNumber;
    job->target.path = AutosaveFileName(name_, name_.number);
    job->runFile = FrameFormatFor(job->target.path) == FrameFormat::kHdf5;
    job->counts.assign(counts.begin(), counts.end());
    job->run = run;
    job->run.expectedFrames = job->runFile ? 0 : 1;
    job->info.exposure = exposure;
    // A run's clock starts with its first frame queued, not with one dropped.
    const auto now = std::chrono::steady_clock::now();
    const bool runStarts = job->runFile && runPathShown_ != job->target.path;
    if (job->runFile) {
        job->info.timestamp =
            std::chrono::duration<double>(now - (runStarts ? now : runStart_)).count();
    }
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    const size_t bytes = sizeof(Job) + job->counts.size() * sizeof(int32_t);
    if (!writer_->TryPost([this, generation, job] { Write(generation, *job); }, bytes)) {
        ++dropped_;
        ++droppedUntaken_;
        return std::nullopt;
    }
    if (runStarts) {
        runPathShown_ = job->target.path;
        runStart_ = now;
    }
    name_.lastFileNumber = name_.number;
    if (!job->runFile) name_.number = SteppedNumber(name_.number, 1);
    return job->target.path;
}

FrameFileStatus FrameAutosaver::AppendToRun(const Job& job) {
    const ChipLayout& layout = job.run.layout;
    const bool sameLayout =
        layout.chipCount == runLayout_.chipCount && layout.family == runLayout_.family;
    if (!runFile_ || runPath_ != job.target.path || !sameLayout) {
        runFile_.reset();
        runPath_.clear();
        // A run file this autosaver wrote before is continued, never overwritten.
        std::string error;
        runFile_ = runFilesWritten_.contains(job.target.path)
                       ? ReopenHdf5RunFile(job.target.path, layout, error)
                       : OpenFrameWriter(job.target.path, job.run, error);
        if (!runFile_) return FrameFileStatus::kOutputOpenFailed;
        runPath_ = job.target.path;
        runLayout_ = layout;
        runFilesWritten_.insert(runPath_);
    }
    if (runFile_->Append(job.counts, job.info)) return FrameFileStatus::kOk;
    runFile_.reset();  // the next frame reopens it and appends after what it holds
    runPath_.clear();
    return FrameFileStatus::kOutputWriteFailed;
}

FrameFileStatus FrameAutosaver::WriteFrame(const Job& job) {
    if (job.runFile) return AppendToRun(job);
    if (FrameFormatFor(job.target.path) != FrameFormat::kTiff)
        return text_.WriteFile(job.target.path, job.counts);
    std::string error;
    std::unique_ptr<FrameWriter> file = OpenFrameWriter(job.target.path, job.run, error);
    if (!file) return FrameFileStatus::kOutputOpenFailed;
    return file->Append(job.counts, job.info) && file->Close()
               ? FrameFileStatus::kOk
               : FrameFileStatus::kOutputWriteFailed;
}

void FrameAutosaver::Write(uint64_t generation, const Job& job) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
    }
    const FrameFileStatus status = WriteFrame(job);
    if (status == FrameFileStatus::kOk) return;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        failure_ = job.target;
        failure_->status = status;
        ++generation_;  // frames queued behind this one are not written
    }
    if (onFailure_) onFailure_();
}

std::optional<FrameAutosaver::Failure> FrameAutosaver::TakeFailure() {
    std::lock_guard lock(mutex_);
    if (!failure_) return std::nullopt;
    Failure failure = std::move(*failure_);
    failure_.reset();
    // Frames queued between the failure and now carry numbers past the failed one.
    ++generation_;
    name_.number = failure.number;
    name_.lastFileNumber = failure.lastFileNumberBefore;
    return failure;
}

void FrameAutosaver::EndRun() {
    writer_->Post([this] {
        runFile_.reset();
        runPath_.clear();
    });
}

void FrameAutosaver::WaitUntilIdle() {
    writer_->WaitUntilIdle();
}

}  // namespace ulvarin
