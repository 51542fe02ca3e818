#include "imaging/frame_autosaver.h"

#include <utility>
#include <vector>

#include "imaging/frame_file.h"
#include "imaging/ordered_writer.h"

namespace ulvarin {

FrameAutosaver::FrameAutosaver(std::function<void()> onFailure)
    : onFailure_(std::move(onFailure)), writer_(std::make_unique<OrderedWriter>()) {}

FrameAutosaver::~FrameAutosaver() {
    writer_.reset();
}

std::string FrameAutosaver::Save(std::span<const int32_t> counts) {
    Failure job;
    job.number = name_.number;
    job.lastFileNumberBefore = name_.lastFileNumber;
    job.path = AutosaveFileName(name_, name_.number);
    name_.lastFileNumber = name_.number;
    name_.number = SteppedNumber(name_.number, 1);
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    auto copy = std::make_shared<std::vector<int32_t>>(counts.begin(), counts.end());
    writer_->Post([this, generation, job, copy] { Write(generation, job, *copy); });
    return job.path;
}

void FrameAutosaver::Write(uint64_t generation, const Failure& job,
                           const std::vector<int32_t>& counts) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
    }
    const FrameFileStatus status = WriteCountFrameFile(job.path, counts);
    if (status == FrameFileStatus::kOk) return;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        failure_ = job;
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

void FrameAutosaver::WaitUntilIdle() {
    writer_->WaitUntilIdle();
}

}  // namespace ulvarin
