// The runs of a Detector: acquisitions, scans and equalisations checked and started on the
// caller's thread, taken on the worker, and the latest frame kept for the clients.
#include <utility>

#include "files/equalization_file.h"
#include "files/frame_writer_factory.h"
#include "files/text_frame_writer.h"
#include "stream/frame_stream.h"
#include "tango/detector.h"
#include "tango/device_reports.h"

namespace ulvarin::tango_server {

// Hands each frame to the run's writer, then keeps it as the latest frame.
class Detector::Watcher final : public FrameWriter {
public:
    Watcher(Detector& detector, FrameWriter& inner) : detector_(detector), inner_(inner) {}
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        const bool ok = inner_.Append(counts, info);
        frames_ = inner_.frames();
        if (!ok) error_ = inner_.error();
        detector_.FrameTaken(counts);
        return ok;
    }
    bool Close() override { return Forward(inner_.Close()); }
    bool RecordDroppedFrames(int64_t count) override {
        return Forward(inner_.RecordDroppedFrames(count));
    }

private:
    bool Forward(bool ok) {
        if (!ok) error_ = inner_.error();
        return ok;
    }
    Detector& detector_;
    FrameWriter& inner_;
};

struct Detector::Run {
    RunDescription description;
    std::unique_ptr<FrameWriter> file;
    std::unique_ptr<FrameStream> stream;
    std::string outputFile, endpoint;
    double streamWait = 0;  // the stream is opened on the worker when it waits
    bool scan = false;
    AcquireRequest acquire;
    ScanRequest scanRequest;
    std::unique_ptr<EqualizeRun> equalize;  // set for an equalisation
    std::unique_ptr<EqualizationFile> results;
};

void Detector::CheckOutputs(const RunSettings& s, int frames) const {
    if (s.outputFile.empty() && s.streamEndpoint.empty())
        throw Refused("A run needs output_file or stream_endpoint (or both).");
    if (s.outputFile.empty()) return;
    const std::string refusal = OutputRefusal(
        s.outputFile, frames, s.overwrite ? ExistingOutput::kReplace : ExistingOutput::kRefuse);
    if (!refusal.empty()) throw Refused(refusal + " Set overwrite to replace it.");
}

void Detector::Start() {
    CheckIdle();
    const RunSettings s = settings();
    Check(PeriodRefusal(s.period, s.exposure));
    CheckOutputs(s, s.frames);
    auto run = std::make_unique<Run>();
    run->description = Session().Describe();
    run->description.expectedFrames = s.frames;
    run->acquire = AcquireRequest{s.frames, s.exposure, s.period};
    run->outputFile = s.outputFile;
    run->endpoint = s.streamEndpoint;
    run->streamWait = s.streamWait;
    StartRun(std::move(run));
}

std::pair<int, std::vector<int>> Detector::ScanRange(const std::string& dac, int from, int to,
                                                     int step) const {
    const int index = DacIndex(dac);
    CheckIdle();
    ScanPlan plan = PlanScan(from, to, step);
    Check(plan.refusal);
    Check(DacValuesRefusal(Session().layout().family, index, plan.values));
    return {index, std::move(plan.values)};
}

void Detector::Scan(const std::string& dac, int from, int to, int step) {
    const auto [index, values] = ScanRange(dac, from, to, step);
    const RunSettings s = settings();
    CheckOutputs(s, static_cast<int>(values.size()));
    auto run = std::make_unique<Run>();
    run->description = Session().Describe();
    run->description.scanDac = DacNameOf(Session().layout().family, index);
    run->description.scanValues.assign(values.begin(), values.end());
    run->description.expectedFrames = static_cast<int>(values.size());
    run->scan = true;
    run->scanRequest = ScanRequest{index, values, s.exposure, 1};
    run->outputFile = s.outputFile;
    run->endpoint = s.streamEndpoint;
    run->streamWait = s.streamWait;
    StartRun(std::move(run));
}

void Detector::Equalize(const std::string& dac, int from, int to, int step,
                        bool maskUnequalizable) {
    const auto [index, values] = ScanRange(dac, from, to, step);
    Check(EqualizeValuesRefusal(values.size()));
    const RunSettings s = settings();
    auto run = std::make_unique<Run>();
    run->description = Session().Describe();
    run->description.scanDac = DacNameOf(Session().layout().family, index);
    run->description.scanValues.assign(values.begin(), values.end());
    if (s.outputFile.empty()) {
        run->results = EqualizationFile::None();
    } else {
        const std::string refusal = EqualizeOutputRefusal(
            s.outputFile, s.overwrite ? ExistingOutput::kReplace : ExistingOutput::kRefuse);
        if (!refusal.empty()) throw Refused(refusal + " Set overwrite to replace it.");
        std::string error;
        run->results = EqualizationFile::Create(s.outputFile, run->description, error);
        if (!run->results) throw DeviceFailed(error);
    }
    run->equalize = std::make_unique<EqualizeRun>();
    run->equalize->request = {index, values, maskUnequalizable};
    run->equalize->exposure = s.exposure;
    StartRun(std::move(run));
}

// Opens the run's file (and, when it need not wait for a consumer, its stream) here, so
// that a file or endpoint that cannot be opened is refused to the caller; the frames are
// taken on the worker.
void Detector::StartRun(std::unique_ptr<Run> run) {
    std::string error;
    if (!run->equalize && !run->outputFile.empty()) {
        run->file = OpenFrameWriter(run->outputFile, run->description, error);
        if (!run->file) throw DeviceFailed(error);
    }
    if (!run->endpoint.empty() && run->streamWait <= 0) {
        run->stream = FrameStream::Open(run->endpoint, run->description, 0, error);
        if (!run->stream) throw DeviceFailed(error);
    }
    JoinWorker();  // a run that ended is joined before the next starts
    stop_.store(0);
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        acquired_ = dropped_ = 0;
        lastCounts_.clear();
        state_ = DetectorState::kRunning;
        status_ = run->equalize ? "Equalizing over " + run->description.scanDac + "."
                  : run->scan   ? "Scanning " + run->description.scanDac + "."
                                : "Acquiring " + std::to_string(run->acquire.frames) + " frames.";
    }
    worker_ = std::thread([this, r = std::shared_ptr<Run>(std::move(run))] { Work(*r); });
}

// Keeps the status at "<what>: step n of m." as a scan or an equalisation moves on.
ProgressFunction Detector::StepStatus(const std::string& what, int steps) {
    return [this, what, steps](int done) {
        std::lock_guard lock(mutex_);
        status_ = what + ": step " + std::to_string(done) + " of " + std::to_string(steps) + ".";
    };
}

std::pair<DetectorState, std::string> Detector::Equalizing(Run& run) {
    const int steps = 3 * static_cast<int>(run.equalize->request.values.size());
    const EqualizeOutcome outcome =
        RunEqualize(*session_, *run.results, *run.equalize,
                    StepStatus("Equalizing over " + run.description.scanDac, steps), stop_);
    switch (outcome.run.end) {
        case RunEnd::kDone:
            if (!outcome.notKept.empty())
                return {DetectorState::kOn,
                        "Equalisation not kept: " + DescribeEqualization(outcome.result) + ". " +
                            outcome.notKept};
            return {DetectorState::kOn,
                    "Equalisation done: " + DescribeEqualization(outcome.result) + "."};
        case RunEnd::kStopped:
            return {DetectorState::kOn,
                    "Equalisation stopped: the pixel configuration and DACs are as before."};
        case RunEnd::kAcquisitionFailed:
            return {DetectorState::kFault,
                    "Equalisation failed: " + WithReport(outcome.run.error, session_.get())};
        case RunEnd::kWriteFailed:
            break;
    }
    return {DetectorState::kFault, "Equalisation failed: " + outcome.run.error};
}

void Detector::Work(Run& run) {
    if (run.equalize) {
        const auto [state, text] = Equalizing(run);
        const std::vector<std::string> modes =
            CountModes(session_->layout(), session_->pixelConfig());
        std::lock_guard lock(mutex_);
        records_ = session_->records();
        countModes_ = modes;
        running_ = false;
        state_ = state;
        status_ = text;
        return;
    }
    std::string error;
    if (!run.endpoint.empty() && !run.stream) {
        run.stream = FrameStream::Open(run.endpoint, run.description, run.streamWait, error);
        if (!run.stream) {
            if (run.file) run.file->Close();
            std::lock_guard lock(mutex_);
            running_ = false;
            state_ = DetectorState::kFault;
            status_ = error;
            return;
        }
    }
    // The stream first: consumers see each frame before the disk has it.
    TeeWriter both({run.stream.get(), run.file.get()});
    FrameWriter& inner = run.stream && run.file ? both
                         : run.stream           ? static_cast<FrameWriter&>(*run.stream)
                                                : *run.file;
    Watcher writer(*this, inner);
    const RunOutcome outcome =
        run.scan ? RunScan(*session_, writer, run.scanRequest,
                           StepStatus("Scanning " + run.description.scanDac,
                                      static_cast<int>(run.scanRequest.values.size())),
                           stop_)
                 : RunAcquire(*session_, writer, run.acquire, nullptr, stop_);
    const bool recorded =
        outcome.end == RunEnd::kWriteFailed || writer.RecordDroppedFrames(outcome.dropped);
    const bool closed = writer.Close() && recorded;
    const int64_t streamDropped = run.stream ? run.stream->dropped() : 0;
    const std::string where = run.file ? run.outputFile : run.stream->endpoint();
    std::string text = std::to_string(outcome.frames) + " frames " +
                       (run.file ? "written to " : "streamed to ") + where;
    if (outcome.dropped > 0)
        text += ", " + std::to_string(outcome.dropped) + " taken but not written in time";
    if (streamDropped > 0)
        text += ", " + std::to_string(streamDropped) +
                " missed by a stream consumer that did not keep up";
    DetectorState state = DetectorState::kOn;
    switch (outcome.end) {
        case RunEnd::kDone:
            text = "Run done: " + text + ".";
            break;
        case RunEnd::kStopped:
            text = "Run stopped: " + text + ".";
            break;
        case RunEnd::kAcquisitionFailed:
            state = DetectorState::kFault;
            text = "Run failed: " + WithReport(outcome.error, session_.get()) + " " + text + ".";
            break;
        case RunEnd::kWriteFailed:
            state = DetectorState::kFault;
            text = "Run failed: " + outcome.error + " " + text + ".";
            break;
    }
    if (!closed && outcome.end != RunEnd::kWriteFailed) {
        state = DetectorState::kFault;
        text += " Closing the output failed: " + writer.error();
    }
    std::lock_guard lock(mutex_);
    if (run.scan) records_ = session_->records();
    dropped_ = outcome.dropped + streamDropped;
    running_ = false;
    state_ = state;
    status_ = text;
}

void Detector::Stop() {
    stop_.store(1);
}

void Detector::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

void Detector::FrameTaken(std::span<const int32_t> counts) {
    {
        std::lock_guard lock(mutex_);
        lastCounts_.assign(counts.begin(), counts.end());
        ++acquired_;
        ++serial_;
    }
    frameArrived_.notify_all();
}

int64_t Detector::framesAcquired() const {
    std::lock_guard lock(mutex_);
    return acquired_;
}

int64_t Detector::framesDropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

FrameImage Detector::LastFrame() const {
    FrameImage image;
    std::vector<int32_t> counts;
    ChipLayout layout;
    {
        std::lock_guard lock(mutex_);
        if (state_ == DetectorState::kOff) return image;
        counts = lastCounts_;
        layout = layout_;
        image.number = acquired_;
    }
    const ImageGeometry g = GeometryFor(layout.chipCount);
    image.width = static_cast<int>(g.width());
    image.height = static_cast<int>(g.height());
    image.pixels.assign(g.pixels(), 0);
    if (counts.size() == layout.pixelsInUse())
        ImageOrderCounts(counts, layout, image.pixels);
    else
        image.number = 0;
    return image;
}

bool Detector::WaitForFrame(int64_t& seen, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    frameArrived_.wait_until(lock, deadline, [&] { return woken_ || serial_ != seen; });
    if (woken_ || serial_ == seen) return false;
    seen = serial_;
    return true;
}

void Detector::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    frameArrived_.notify_all();
}

}  // namespace ulvarin::tango_server
