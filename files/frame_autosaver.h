// Autosaving every frame taken in, under the numbered template, without making the thread
// that takes frames in wait for the disk: each frame is copied and written in order on a
// writer thread of its own. A ".txt" or ".tif" template makes one numbered file per frame;
// ".h5" appends every frame to one run file, named by the template's number when the run
// began, until the template names another file. A run file is overwritten only when first
// named: one closed (EndRun, a failed write) and named again is continued.
//
// The frames queued for the writer are bounded by the bytes of their copies. A frame that
// finds the queue full is dropped there and then, in Save, without waiting for the disk:
// it takes no number (the template stays where it was, so the numbered files written stay
// contiguous for "<<" and ">>"), is appended to no run file, and is counted for the owner
// to report.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "files/autosave_template.h"
#include "files/count_text.h"
#include "files/frame_writer.h"

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

    // 64 four-chip frames: most of a second of a streaming interface, enough to ride out a
    // disk that stalls now and then.
    static constexpr size_t kDefaultQueueBytes = size_t{64} << 20;

    // `onFailure` runs on the writer thread after a write failed; it is to hand the news to
    // the owner's thread, which then calls TakeFailure. `queueBytes` bounds the frame copies
    // waiting for the writer (the one being written included). Text files are formatted
    // on `formatThreads` threads: the work is the same on any number, and a second thread
    // lets the writer keep ahead of the interface by more when a core has time to spare.
    explicit FrameAutosaver(std::function<void()> onFailure, size_t queueBytes = kDefaultQueueBytes,
                            int formatThreads = 2);
    // Writes every frame still queued.
    ~FrameAutosaver();
    FrameAutosaver(const FrameAutosaver&) = delete;
    FrameAutosaver& operator=(const FrameAutosaver&) = delete;

    // The template; read and changed only by the owner's thread.
    AutosaveTemplate& name() { return name_; }
    const AutosaveTemplate& name() const { return name_; }

    // Queues a copy of `counts` (chip order) for the file of name().number and advances the
    // template as a successful save does (lastFileNumber = that number, number + 1). Returns
    // the path the frame goes to. A run file (".h5") takes the frame instead, and the
    // template stays at its number. `run` (whose layout must match the counts) and
    // `exposure` describe the frame for the formats that keep settings; a run file's
    // timestamps count from its first frame. When the queue has no room the frame is
    // dropped and counted, the template is left as it was, and nothing is returned.
    std::optional<std::string> Save(std::span<const int32_t> counts, const RunDescription& run = {},
                                    double exposure = 0);

    // Frames dropped for want of room in the queue: in all, and since the last call of
    // TakeDroppedFrames. Owner's thread only, as Save.
    uint64_t DroppedFrames() const { return dropped_; }
    uint64_t TakeDroppedFrames() { return std::exchange(droppedUntaken_, 0); }

    // The failure reported since the last call, if any. The template goes back to the failed
    // number and its lastFileNumber before it; frames queued after the failed one are dropped
    // rather than written under numbers that would then be reused.
    std::optional<Failure> TakeFailure();

    // Closes the run file after the frames queued so far, so other programs may open it; the
    // next frame to it reopens it and appends.
    void EndRun();

    // Returns when every frame queued so far has been written (or dropped).
    void WaitUntilIdle();

private:
    struct Job {
        Failure target;
        std::vector<int32_t> counts;
        RunDescription run;
        FrameInfo info;
        bool runFile = false;
    };
    void Write(uint64_t generation, const Job& job);
    FrameFileStatus WriteFrame(const Job& job);
    // Appends to the open run file, opening `path` first when another (or none) is open.
    FrameFileStatus AppendToRun(const Job& job);

    AutosaveTemplate name_;
    uint64_t dropped_ = 0;
    uint64_t droppedUntaken_ = 0;
    std::string runPathShown_;  // the run file the owner's frames go to, for timestamps
    std::chrono::steady_clock::time_point runStart_;
    std::function<void()> onFailure_;
    std::mutex mutex_;                // guards generation_ and failure_
    uint64_t generation_ = 0;         // jobs of an older generation are dropped
    std::optional<Failure> failure_;  // reported by the writer, not yet taken
    // Used on the writer thread only.
    std::unique_ptr<FrameWriter> runFile_;
    std::string runPath_;
    ChipLayout runLayout_;
    std::set<std::string> runFilesWritten_;
    CountTextFormatter text_;
    std::unique_ptr<OrderedWriter> writer_;
};

}  // namespace ulvarin
