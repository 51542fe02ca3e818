#include "python/stream.h"

#include "python/blocking.h"
#include "python/device_error.h"

namespace ulvarin::python {
namespace {

// Frames waiting for Python; beyond them the run's own queue (kStreamQueueBytes) holds
// frames until it too is full and drops.
constexpr size_t kWaitingFrames = 64;
constexpr size_t kStreamQueueBytes = size_t{64} << 20;

}  // namespace

// Hands each frame, in the image layout, to the stream's queue; waits while the queue is
// full (the run's own queue then takes the frames, and drops them once it is full too).
class Stream::QueueWriter final : public FrameWriter {
public:
    explicit QueueWriter(Stream& stream) : stream_(stream) {}
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        auto frame = std::make_unique<Frame>();
        frame->number = info.number;
        frame->image.resize(GeometryFor(stream_.layout_.chipCount).pixels());
        ImageOrderCounts(counts, stream_.layout_, frame->image);
        std::unique_lock lock(stream_.mutex_);
        stream_.changed_.wait(
            lock, [&] { return stream_.queue_.size() < kWaitingFrames || stream_.stop_ != 0; });
        if (stream_.stop_ == 0) stream_.queue_.push_back(std::move(frame));
        ++frames_;
        stream_.changed_.notify_all();
        return true;
    }
    bool Close() override { return true; }

private:
    Stream& stream_;
};

Stream::Stream(Ended ended, InterfaceSession& session, double exposure, int frames)
    : onEnded_(std::move(ended)), layout_(session.layout()) {
    thread_ = std::thread([this, &session, exposure, frames] { Run(session, exposure, frames); });
}

Stream::~Stream() {
    Close();
}

void Stream::Run(InterfaceSession& session, double exposure, int frames) {
    QueueWriter writer(*this);
    AcquireRequest request;
    request.frames = frames;
    request.exposure = exposure;
    request.queueBytes = kStreamQueueBytes;
    const RunOutcome outcome = RunAcquire(session, writer, request, nullptr, stop_);
    std::lock_guard lock(mutex_);
    ended_ = true;
    dropped_ = outcome.dropped;
    if (outcome.end == RunEnd::kAcquisitionFailed && failure_.empty()) failure_ = outcome.error;
    changed_.notify_all();
}

py::array_t<uint32_t> Stream::Next() {
    const auto ready = [this](double seconds) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [this] { return !queue_.empty() || ended_ || abandoned_; });
    };
    if (!WaitInterruptibly(ready)) {
        Close();
        throw py::error_already_set();
    }
    std::unique_ptr<Frame> frame;
    std::string failure;
    bool abandoned = false;
    {
        std::lock_guard lock(mutex_);
        abandoned = abandoned_;
        if (!queue_.empty() && !abandoned_) {
            frame = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
        }
        failure = failure_;
    }
    if (!frame) {
        Close();
        if (abandoned) throw DeviceError(failure, "closed");
        if (!failure.empty()) ThrowDeviceError(failure);
        throw py::stop_iteration();
    }
    ++taken_;
    lastNumber_ = frame->number;
    // The array owns the frame's buffer: no copy on the way to numpy.
    auto* image = new std::vector<uint32_t>(std::move(frame->image));
    py::capsule owner(image, [](void* p) { delete static_cast<std::vector<uint32_t>*>(p); });
    const ImageGeometry g = GeometryFor(layout_.chipCount);
    return py::array_t<uint32_t>({g.height(), g.width()}, image->data(), owner);
}

void Stream::Join() {
    // The GIL goes first: a second closer waiting for the join must not hold it while the
    // first needs it back.
    const auto join = [this] {
        std::lock_guard lock(joinMutex_);
        if (thread_.joinable()) thread_.join();
    };
    if (PyGILState_Check() != 0) {
        WithoutGil(join);
    } else {
        join();
    }
}

void Stream::Close() {
    {
        std::lock_guard lock(mutex_);
        stop_ = 1;
        changed_.notify_all();
    }
    Join();
    if (Ended ended = std::exchange(onEnded_, nullptr)) ended(this);
}

void Stream::Abandon(const std::string& why) {
    // Said before the run ends, so that a reader woken by its end learns why.
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        failure_ = why;
        queue_.clear();
        changed_.notify_all();
    }
    onEnded_ = nullptr;  // the device is going: it no longer hears of this stream
    Close();
}

void Stream::RequestStop() {
    std::lock_guard lock(mutex_);
    stop_ = 1;
    changed_.notify_all();
}

int64_t Stream::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace ulvarin::python
