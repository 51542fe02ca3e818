// Autosaving every frame taken in, under the numbered template, without making the thread
// that takes frames in wait for the disk: each frame is copied and written in order on a
// writer thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "imaging/autosave_template.h"

namespace ulvarin {

class OrderedWriter;

class FrameAutosaver {
public:
    // A write failed: `path` was not written (status says why), and the template is to go
    // back to `number` so the next frame tries that name again.
    struct Failure {
        FrameFileStatus status = FrameFileStatus::kOk;
        std::string path;
        int number = 0;
        int lastFileNumberBefore = 0;
    };

    // `onFailure` runs on the writer thread after a write failed; it is to hand the news to
    // the owner's thread, which then calls TakeFailure.
    explicit FrameAutosaver(std::function<void()> onFailure);
    // Writes every frame still queued.
    ~FrameAutosaver();
    FrameAutosaver(const FrameAutosaver&) = delete;
    FrameAutosaver& operator=(const FrameAutosaver&) = delete;

    // The template; read and changed only by the owner's thread.
    AutosaveTemplate& name() { return name_; }
    const AutosaveTemplate& name() const { return name_; }

    // Queues a copy of `counts` (chip order) for the file of name().number and advances the
    // template as a successful save does (lastFileNumber = that number, number + 1). Returns
    // the path the frame goes to.
    std::string Save(std::span<const int32_t> counts);

    // The failure reported since the last call, if any. The template goes back to the failed
    // number and its lastFileNumber before it; frames queued after the failed one are dropped
    // rather than written under numbers that would then be reused.
    std::optional<Failure> TakeFailure();

    // Returns when every frame queued so far has been written (or dropped).
    void WaitUntilIdle();

private:
    void Write(uint64_t generation, const Failure& job, const std::vector<int32_t>& counts);

    AutosaveTemplate name_;
    std::function<void()> onFailure_;
    std::mutex mutex_;                // guards generation_ and failure_
    uint64_t generation_ = 0;         // jobs of an older generation are dropped
    std::optional<Failure> failure_;  // reported by the writer, not yet taken
    std::unique_ptr<OrderedWriter> writer_;
};

}  // namespace ulvarin
