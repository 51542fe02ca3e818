#include "python/device.h"

#include <unistd.h>

#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <set>

#include "base/number_text.h"
#include "device/report.h"
#include "files/frame_writer_factory.h"
#include "files/hdf5_frame_writer.h"
#include "files/mask_file.h"
#include "files/text_frame_writer.h"
#include "python/blocking.h"
#include "python/stream.h"
#include "stream/frame_stream.h"

namespace ulvarin::python {
namespace {

constexpr double kInterfaceDacHighest = 4095 / 1638.6;
// Most bytes of frames a run keeps in memory; longer runs go to disk as they arrive.
constexpr double kInMemoryBytes = double(uint64_t{4} << 30);
// How long an exiting interpreter waits for a run on a daemon thread to end.
constexpr double kExitPatience = 10;

// Raises ValueError with `refusal` unless it is empty.
void Check(const std::string& refusal) {
    if (!refusal.empty()) throw py::value_error(refusal);
}

void CheckExposure(double exposure, int64_t frames) {
    Check(ExposureRefusal(exposure));
    Check(FramesRefusal(frames));
}

ExistingOutput OutputRule(bool overwrite) {
    return overwrite ? ExistingOutput::kReplace : ExistingOutput::kRefuse;
}

// An output refused for existing says how to replace it from here (and, for a run that can
// add to it, how to add to it).
void CheckOutput(const std::string& refusal, const std::string& path, bool appendable = false) {
    if (refusal.empty()) return;
    if (access(path.c_str(), F_OK) != 0) throw py::value_error(refusal);
    const bool hdf5 = appendable && FrameFormatFor(path) == FrameFormat::kHdf5;
    throw py::value_error(refusal + " overwrite=True replaces it" +
                          (hdf5 ? ", append=True adds the frames to it." : "."));
}

// "" when `frames` frames of `layout` fit in the memory a run may keep, else why not and
// what to do instead.
std::string InMemoryRefusal(int64_t frames, const ChipLayout& layout, const std::string& instead) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const double bytes = double(frames) * g.pixels() * sizeof(uint32_t);
    if (bytes <= kInMemoryBytes) return {};
    constexpr double kGiB = double(uint64_t{1} << 30);
    return std::to_string(frames) + " frames of " + std::to_string(g.width()) + " x " +
           std::to_string(g.height()) + " take " + FormatDouble("%.1f", bytes / kGiB) +
           " GiB, more than the " + FormatDouble("%.0f", kInMemoryBytes / kGiB) +
           " GiB a run keeps in memory: " + instead;
}

// An array of `frames` frames, each written in the image layout by Append.
class ArrayWriter final : public FrameWriter {
public:
    ArrayWriter(const ChipLayout& layout, int frames)
        : layout_(layout),
          pixels_(GeometryFor(layout.chipCount).pixels()),
          array_({static_cast<py::ssize_t>(frames),
                  static_cast<py::ssize_t>(GeometryFor(layout.chipCount).height()),
                  static_cast<py::ssize_t>(GeometryFor(layout.chipCount).width())}),
          data_(array_.mutable_data()),
          capacity_(frames) {}
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        if (frames_ >= capacity_) return false;
        ImageOrderCounts(counts, layout_,
                         {data_ + static_cast<size_t>(frames_) * pixels_, pixels_});
        values.push_back(info.dacValue);
        times.push_back(info.timestamp);
        exposures.push_back(info.exposure);
        ++frames_;
        return true;
    }
    bool Close() override { return true; }
    // The frames written, as a view of the first ones when the run ended early.
    py::array_t<uint32_t> Frames() {
        if (frames_ == capacity_) return array_;
        return array_[py::slice(0, frames_, 1)].cast<py::array_t<uint32_t>>();
    }
    std::vector<int> values;
    std::vector<double> times, exposures;

private:
    ChipLayout layout_;
    size_t pixels_;
    py::array_t<uint32_t> array_;
    uint32_t* data_;
    int capacity_;
};

// Raises ulvarin.Interrupted (a KeyboardInterrupt) carrying what the run took.
[[noreturn]] void ThrowInterrupted(
    py::object frames, py::object values = py::none(), py::object timestamps = py::none(),
    py::object outcome = py::none(),
    const std::string& text = "interrupted: the frames taken so far are in .frames") {
    PyErr_Clear();
    py::object type = py::module_::import("ulvarin").attr("Interrupted");
    py::object error = type(text);
    error.attr("frames") = std::move(frames);
    error.attr("values") = std::move(values);
    error.attr("timestamps") = std::move(timestamps);
    error.attr("outcome") = std::move(outcome);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

py::array_t<double> DoubleArray(const std::vector<double>& values) {
    return py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
}

// A per-pixel array of `layout` in the image layout, and back.
template <typename T>
py::array_t<T> ImageOf(std::span<const T> perPixel, const ChipLayout& layout) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    py::array_t<T> image({g.height(), g.width()});
    T* out = image.mutable_data();
    for (uint32_t i = 0; i < g.pixels(); ++i) out[i] = perPixel[ImageIndexToPixel(i, layout)];
    return image;
}

}  // namespace

namespace {
std::atomic<int> gOpenDevices{0};
// Every open device, for the interpreter's exit; changed with the GIL held.
std::set<Device*> gDevices;
// Set once the interpreter exits: nothing opens or runs after it.
std::atomic<bool> gExiting{false};

void CheckNotExiting() {
    if (gExiting)
        throw DeviceError("The interpreter is exiting: no device opens or runs now.", "closed");
}
}  // namespace

int Device::OpenCount() {
    return gOpenDevices.load();
}

Device::Device(const std::string& description) : session_(std::make_unique<InterfaceSession>()) {
    CheckNotExiting();
    // Counted while it opens too: the emulated set must not change under an opening.
    ++gOpenDevices;
    std::string error;
    bool opened = false;
    WithoutGil([&] {
        opened = session_->Open(description, error) &&
                 session_->CountHits(error) == InterfaceSession::Load::kOk;
    });
    if (!opened) {
        const InterfaceSession::Report report = session_->TakeLastError();
        session_.reset();
        --gOpenDevices;
        ThrowDeviceError(error, report);
    }
    gDevices.insert(this);
}

Device::~Device() {
    // An exiting interpreter does not wait for ever on a run that will not end; the session
    // such a run still uses is left to the process's end rather than pulled from under it.
    if (!Shut("The device was closed.", "The device was closed.", gExiting ? kExitPatience : -1))
        static_cast<void>(session_.release());
}

void Device::Close() {
    Shut("The device was closed by another thread: the run ended.", "The device was closed.", -1);
}

void Device::CloseAllAtExit() {
    gExiting = true;
    const std::vector<Device*> open(gDevices.begin(), gDevices.end());
    for (Device* device : open)
        device->Shut("The interpreter is exiting: the run was stopped.",
                     "The interpreter is exiting: the stream was stopped.", kExitPatience);
}

bool Device::Shut(const std::string& runWhy, const std::string& streamWhy, double patience) {
    {
        std::unique_lock lock(mutex_);
        if (closing_ == Closing::kClosed) return true;
        if (closing_ == Closing::kClosing) {
            // Another thread is closing it: done when that is.
            lock.unlock();
            bool closed = true;
            WithoutGil([&] {
                std::unique_lock waiting(mutex_);
                const auto done = [&] { return closing_ == Closing::kClosed; };
                if (patience < 0)
                    changed_.wait(waiting, done);
                else
                    closed =
                        changed_.wait_for(waiting, std::chrono::duration<double>(patience), done);
            });
            return closed;
        }
        closing_ = Closing::kClosing;
        closedWhy_ = runWhy;
        if (runStop_ != nullptr) *runStop_ = 1;
    }
    if (stream_ != nullptr) std::exchange(stream_, nullptr)->Abandon(streamWhy);
    // A run on another thread holds the session until it has ended.
    bool ended = true;
    WithoutGil([&] {
        std::unique_lock lock(mutex_);
        const auto idle = [&] { return !busy_; };
        if (patience < 0)
            changed_.wait(lock, idle);
        else
            ended = changed_.wait_for(lock, std::chrono::duration<double>(patience), idle);
    });
    if (!ended) return false;
    std::unique_ptr<InterfaceSession> session = std::move(session_);
    gDevices.erase(this);
    WithoutGil([&] {
        // Counted open until it is gone, so the emulated set never changes under it.
        if (session) {
            session.reset();
            --gOpenDevices;
        }
        std::lock_guard lock(mutex_);
        closing_ = Closing::kClosed;
        changed_.notify_all();
    });
    return true;
}

void Device::Stop() {
    if (stream_ != nullptr) stream_->RequestStop();
    std::lock_guard lock(mutex_);
    if (runStop_ != nullptr) *runStop_ = 1;
}

void Device::StreamEnded(Stream* stream) {
    if (stream_ == stream) stream_ = nullptr;
}

InterfaceSession& Device::Session() const {
    if (!session_) throw DeviceError("The device is closed.", "closed");
    return *session_;
}

void Device::Fail(const std::string& what) const {
    ThrowDeviceError(what, session_ ? session_->TakeLastError() : InterfaceSession::Report{});
}

void Device::CheckIdle() const {
    Session();
    std::lock_guard lock(mutex_);
    if (closing_ != Closing::kOpen) throw DeviceError("The device is closed.", "closed");
    if (stream_ != nullptr || busy_) throw DeviceError(kRunUnderWay, "busy");
}

Device::Claim::Claim(Device& device, StopFlag* stop) : device_(device) {
    CheckNotExiting();
    device.Session();
    std::lock_guard lock(device.mutex_);
    if (device.closing_ != Closing::kOpen) throw DeviceError("The device is closed.", "closed");
    if (device.stream_ != nullptr || device.busy_) throw DeviceError(kRunUnderWay, "busy");
    device.busy_ = true;
    device.runStop_ = stop;
}

Device::Claim::~Claim() {
    std::lock_guard lock(device_.mutex_);
    device_.busy_ = false;
    device_.runStop_ = nullptr;
    device_.changed_.notify_all();
}

void Device::CheckNotClosedUnder() const {
    std::lock_guard lock(mutex_);
    if (closing_ != Closing::kOpen) throw DeviceError(closedWhy_, "closed");
}

void Device::Remember(const py::object& array, std::vector<double> times,
                      std::vector<double> exposures) {
    lastFrames_ = py::weakref(array);
    lastTimes_ = std::move(times);
    lastExposures_ = std::move(exposures);
}

std::string Device::description() const {
    return Session().description();
}

std::string Device::chipType() const {
    return ChipFamilyName(Session().layout().family);
}

int Device::chipCount() const {
    return Session().layout().chipCount;
}

std::vector<std::string> Device::chipIds() {
    CheckIdle();
    return Session().ReadChipIdList();
}

std::string Device::firmware() {
    CheckIdle();
    return Session().ReadFirmware();
}

py::tuple Device::frameShape() const {
    const ImageGeometry g = GeometryFor(Session().layout().chipCount);
    return py::make_tuple(g.height(), g.width());
}

std::vector<std::string> Device::dacNames() const {
    const ChipFamily family = Session().layout().family;
    std::vector<std::string> names;
    for (int i = 0; i < DacCountOf(family); ++i) names.emplace_back(DacNameOf(family, i));
    return names;
}

bool Device::hasDac(const std::string& name) const {
    std::string refusal;
    return DacByName(Session().layout().family, name, refusal) >= 0;
}

int Device::DacIndex(const std::string& name) const {
    std::string refusal;
    const int index = DacByName(Session().layout().family, name, refusal);
    Check(refusal);
    return index;
}

std::vector<int> Device::dac(const std::string& name) const {
    const int index = DacIndex(name);
    std::vector<int> values;
    for (const ChipDacRecord& record : Session().records()) values.push_back(record.dac[index]);
    return values;
}

void Device::setDac(const std::string& name, const std::vector<int>& values) {
    const int index = DacIndex(name);
    const Claim claim(*this, nullptr);
    InterfaceSession& session = Session();
    std::string error;
    InterfaceSession::Change change = InterfaceSession::Change::kSent;
    WithoutGil([&] { change = session.SetDac(index, values, error); });
    if (change == InterfaceSession::Change::kRefused) throw py::value_error(error);
    if (change == InterfaceSession::Change::kFailed) Fail(error);
}

double Device::bias() const {
    return Session().biasVolts();
}

void Device::setBias(double volts) {
    CheckIdle();
    Check(BiasRefusal(volts));
    std::string error;
    if (!Session().SetBias(volts, error)) Fail(error);
}

void Device::setInterfaceDac(int channel, double volts) {
    CheckIdle();
    if (channel != 0 && channel != 1)
        throw py::value_error("the interface has DAC 0 and DAC 1, not " + std::to_string(channel));
    if (!(volts >= 0 && volts <= kInterfaceDacHighest))
        throw py::value_error("the interface DACs take 0 to 2.499 V, not " + std::to_string(volts));
    std::string error;
    if (!Session().SetInterfaceDac(channel, volts, error)) Fail(error);
}

std::vector<std::string> Device::countModes() const {
    const InterfaceSession& session = Session();
    return CountModes(session.layout(), session.pixelConfig());
}

void Device::setCountMode(const std::string& mode) {
    CheckIdle();
    std::string error;
    const int code = CountModeByName(Session().layout().family, mode, error);
    Check(error);
    if (Session().SetTimepixMode(code, error) != InterfaceSession::Load::kOk) Fail(error);
}

py::array_t<uint16_t> Device::pixelConfig() const {
    const InterfaceSession& session = Session();
    const auto chips = static_cast<py::ssize_t>(session.layout().chipCount);
    py::array_t<uint16_t> words({chips, py::ssize_t{256}, py::ssize_t{256}});
    std::copy(session.pixelConfig().begin(), session.pixelConfig().end(), words.mutable_data());
    return words;
}

void Device::setPixelConfig(const py::array& words) {
    CheckIdle();
    InterfaceSession& session = Session();
    const auto chips = static_cast<py::ssize_t>(session.layout().chipCount);
    if (!words.dtype().is(py::dtype::of<uint16_t>()))
        throw py::value_error("the pixel configuration is an array of uint16, not " +
                              std::string(py::str(words.dtype())));
    if (words.ndim() != 3 || words.shape(0) != chips || words.shape(1) != 256 ||
        words.shape(2) != 256) {
        std::string shape;
        for (py::ssize_t d = 0; d < words.ndim(); ++d)
            shape += (d ? ", " : "") + std::to_string(words.shape(d));
        throw py::value_error("the pixel configuration has the shape (" + std::to_string(chips) +
                              ", 256, 256), not (" + shape + ")");
    }
    const auto contiguous = py::array_t<uint16_t, py::array::c_style | py::array::forcecast>(words);
    std::string error;
    bool sent = false;
    const Claim claim(*this, nullptr);
    WithoutGil([&] {
        sent = session.SendPixelConfig({contiguous.data(), static_cast<size_t>(contiguous.size())},
                                       error);
    });
    if (!sent) Fail(error);
}

void Device::loadMask(const std::string& path) {
    CheckIdle();
    std::string error;
    const InterfaceSession::Load result = Session().LoadMask(path, error);
    if (result == InterfaceSession::Load::kUnreadable) throw py::value_error(error);
    if (result != InterfaceSession::Load::kOk) Fail(error);
}

py::object Device::acquire(double exposure, int frames, bool timestamps) {
    CheckExposure(exposure, frames);
    Check(InMemoryRefusal(frames, Session().layout(),
                          "acquire_to(path, ...) writes them to a file as they arrive."));
    StopFlag stop{0};
    const Claim claim(*this, &stop);
    InterfaceSession& session = Session();
    ArrayWriter writer(session.layout(), frames);
    const AcquireRequest request{frames, exposure, 0};
    RunOutcome outcome;
    const bool interrupted = RunInterruptibly(
        [&] { outcome = RunAcquire(session, writer, request, nullptr, stop); }, stop);
    py::array_t<uint32_t> taken = writer.Frames();
    Remember(taken, writer.times, writer.exposures);
    if (interrupted) ThrowInterrupted(taken, py::none(), DoubleArray(writer.times));
    CheckNotClosedUnder();
    if (outcome.end == RunEnd::kAcquisitionFailed) Fail(outcome.error);
    if (outcome.dropped > 0)
        PyErr_WarnEx(PyExc_RuntimeWarning, "frames were dropped: the array kept fewer", 1);
    if (timestamps) return py::make_tuple(taken, DoubleArray(writer.times));
    return taken;
}

namespace {

// The files a run to `path` of `expected` frames wrote, once `count` frames were taken: one,
// or a text run's numbered files (those of frames dropped are missing).
std::vector<std::string> WrittenFiles(const std::string& path, int expected, int64_t count) {
    if (path.empty()) return {};
    if (FrameFormatFor(path) != FrameFormat::kText || expected == 1) return {path};
    std::vector<std::string> files;
    for (int64_t i = 0; i < count; ++i)
        if (std::string name = TextRunFileName(path, expected, i); access(name.c_str(), F_OK) == 0)
            files.push_back(std::move(name));
    return files;
}

}  // namespace

RunReport Device::acquireTo(const DiskRun& run) {
    if (run.path.empty() && run.stream.empty())
        throw py::value_error("A run to disk needs a file to write (path) or a stream to send to.");
    CheckExposure(run.exposure, run.frames);
    Check(PeriodRefusal(run.period, run.exposure));
    if (run.append && run.overwrite)
        throw py::value_error("append=True and overwrite=True exclude each other.");
    if (!run.stream.empty()) {
        Check(StreamEndpointRefusal(run.stream));
        Check(StreamWaitRefusal(run.streamWait));
    }
    if (!run.path.empty()) {
        const ExistingOutput rule = run.append      ? ExistingOutput::kAppend
                                    : run.overwrite ? ExistingOutput::kReplace
                                                    : ExistingOutput::kRefuse;
        CheckOutput(OutputRefusal(run.path, run.frames, rule), run.path, true);
    }
    StopFlag stop{0};
    const Claim claim(*this, &stop);
    InterfaceSession& session = Session();
    RunDescription description = session.Describe();
    description.expectedFrames = run.frames;
    const AcquireRequest request{run.frames, run.exposure, run.period};

    // Everything that may wait (a stream's consumer, the run, closing the file) is done
    // with the GIL released, on the run's thread.
    RunReport report;
    RunOutcome outcome;
    std::string openError, closeError;
    bool opened = false, closed = false;
    const auto work = [&] {
        // The stream first: an endpoint in use is refused before an output file is made.
        std::unique_ptr<FrameStream> stream;
        if (!run.stream.empty()) {
            stream = FrameStream::Open(run.stream, description, run.streamWait, openError,
                                       [&stop] { return stop != 0; });
            if (!stream) return;
        }
        std::unique_ptr<FrameWriter> file;
        if (!run.path.empty()) {
            file = run.append ? ReopenHdf5RunFile(run.path, description, openError)
                              : OpenFrameWriter(run.path, description, openError);
            if (!file) return;
        }
        opened = true;
        // The stream first: consumers see each frame before the disk has it.
        TeeWriter both({stream.get(), file.get()});
        FrameWriter& writer = stream && file ? both
                              : stream       ? static_cast<FrameWriter&>(*stream)
                                             : *file;
        // A run appended to holds frames already: the outcome counts this run's.
        const int before = writer.frames();
        if (stop != 0) {
            outcome.end = RunEnd::kStopped;  // while waiting for a consumer
        } else {
            outcome = RunAcquire(session, writer, request, nullptr, stop);
            outcome.frames -= before;
        }
        const bool recorded =
            outcome.end == RunEnd::kWriteFailed || writer.RecordDroppedFrames(outcome.dropped);
        closed = writer.Close() && recorded;
        if (!closed) closeError = writer.error();
        if (stream) {
            report.stream = stream->endpoint();
            report.streamed = stream->frames();
            report.streamDropped = stream->dropped();
        }
    };
    const bool interrupted = RunInterruptibly(work, stop);
    if (!opened) throw DeviceError(openError, "file");
    report.frames = outcome.frames;
    report.dropped = outcome.dropped;
    report.stopped = outcome.end == RunEnd::kStopped && !interrupted;
    report.files = WrittenFiles(run.path, run.frames, outcome.frames + outcome.dropped);
    const std::string where = run.path.empty() ? report.stream : run.path;
    if (interrupted)
        ThrowInterrupted(py::none(), py::none(), py::none(), py::cast(report),
                         "interrupted: " + std::to_string(report.frames) + " frames written to " +
                             where + "; the outcome is in .outcome");
    CheckNotClosedUnder();
    if (outcome.end == RunEnd::kWriteFailed) throw DeviceError(outcome.error, "file");
    if (outcome.end == RunEnd::kAcquisitionFailed)
        Fail(outcome.error + " " + std::to_string(outcome.frames) + " frames kept in " + where);
    if (!closed) throw DeviceError(closeError, "file");
    if (outcome.dropped > 0) {
        const std::string text =
            std::to_string(outcome.dropped) + " of " +
            std::to_string(outcome.dropped + outcome.frames) +
            " frames taken could not be written in time and are missing from " + where;
        PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1);
    }
    if (report.streamDropped > 0) {
        const std::string text = std::to_string(report.streamDropped) + " of " +
                                 std::to_string(report.streamed) +
                                 " frames streamed were lost by a consumer that did not keep up";
        PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1);
    }
    return report;
}

std::unique_ptr<Stream> Device::stream(double exposure, int frames) {
    CheckExposure(exposure, frames);
    CheckNotExiting();
    CheckIdle();
    auto stream = std::make_unique<Stream>([this](Stream* s) { StreamEnded(s); }, Session(),
                                           exposure, frames);
    stream_ = stream.get();
    return stream;
}

py::tuple Device::scan(const std::string& dac, const std::vector<int>& values, double exposure,
                       int frames) {
    CheckExposure(exposure, frames);
    InterfaceSession& session = Session();
    const int index = DacIndex(dac);
    if (values.empty()) throw py::value_error("A scan needs at least one value.");
    Check(DacValuesRefusal(session.layout().family, index, values));
    Check(InMemoryRefusal(static_cast<int64_t>(values.size()), session.layout(),
                          "scan fewer values at a time."));
    StopFlag stop{0};
    const Claim claim(*this, &stop);
    ArrayWriter writer(session.layout(), static_cast<int>(values.size()));
    const ScanRequest request{index, values, exposure, frames};
    RunOutcome outcome;
    const bool interrupted =
        RunInterruptibly([&] { outcome = RunScan(session, writer, request, nullptr, stop); }, stop);
    py::array_t<int32_t> taken(static_cast<py::ssize_t>(writer.values.size()),
                               writer.values.data());
    py::array_t<uint32_t> stack = writer.Frames();
    Remember(stack, writer.times, writer.exposures);
    if (interrupted) ThrowInterrupted(stack, taken, DoubleArray(writer.times));
    CheckNotClosedUnder();
    if (outcome.end == RunEnd::kAcquisitionFailed) Fail(outcome.error);
    return py::make_tuple(stack, taken);
}

py::dict Device::equalize(const std::string& dac, const std::vector<int>& values, double exposure,
                          int frames, bool maskUnequalizable, const std::string& out,
                          bool overwrite) {
    CheckExposure(exposure, frames);
    InterfaceSession& session = Session();
    const int index = DacIndex(dac);
    Check(EqualizeValuesRefusal(values.size()));
    Check(DacValuesRefusal(session.layout().family, index, values));
    if (!out.empty()) CheckOutput(EqualizeOutputRefusal(out, OutputRule(overwrite)), out);
    StopFlag stop{0};
    const Claim claim(*this, &stop);
    std::unique_ptr<EqualizationFile> file;
    std::string error;
    if (!out.empty()) {
        RunDescription description = session.Describe();
        description.scanDac = DacNameOf(session.layout().family, index);
        description.scanValues.assign(values.begin(), values.end());
        file = EqualizationFile::Create(out, description, error);
        if (!file) throw DeviceError(error, "file");
    } else {
        file = EqualizationFile::None();
    }
    EqualizeRun request;
    request.request = {index, values, maskUnequalizable};
    request.exposure = exposure;
    request.framesPerStep = frames;
    EqualizeOutcome outcome;
    const bool interrupted = RunInterruptibly(
        [&] { outcome = RunEqualize(session, *file, request, nullptr, stop); }, stop);
    if (interrupted) ThrowInterrupted(py::none());
    CheckNotClosedUnder();
    if (outcome.run.end == RunEnd::kAcquisitionFailed) Fail(outcome.run.error);
    if (outcome.run.end == RunEnd::kWriteFailed) throw DeviceError(outcome.run.error, "file");
    if (!outcome.notKept.empty()) PyErr_WarnEx(PyExc_RuntimeWarning, outcome.notKept.c_str(), 1);
    const EqualizationResult& r = outcome.result;
    std::vector<uint8_t> outcomes(r.outcome.size());
    for (size_t i = 0; i < outcomes.size(); ++i) outcomes[i] = static_cast<uint8_t>(r.outcome[i]);
    py::list chips;
    for (const ChipEqualization& c : r.chips)
        chips.append(
            py::dict(py::arg("target") = c.target, py::arg("spread_before") = c.spreadBefore,
                     py::arg("spread_after") = c.spreadAfter, py::arg("equalized") = c.equalized,
                     py::arg("unequalizable") = c.unequalizable));
    return py::dict(py::arg("summary") = DescribeEqualization(r),
                    py::arg("kept") = outcome.notKept.empty(),
                    py::arg("not_kept") = outcome.notKept, py::arg("chips") = chips,
                    py::arg("before") = ImageOf<float>(r.before, r.layout),
                    py::arg("after") = ImageOf<float>(r.after, r.layout),
                    py::arg("adjust") = ImageOf<uint8_t>(r.adjust, r.layout),
                    py::arg("outcome") = ImageOf<uint8_t>(outcomes, r.layout),
                    py::arg("pixel_config") = pixelConfig());
}

void Device::save(const std::string& path, const py::array& frames, std::optional<double> exposure,
                  const std::vector<int>& values, const std::string& dac, bool overwrite,
                  const std::vector<double>& timestamps) {
    InterfaceSession& session = Session();
    const ChipLayout layout = session.layout();
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const bool single = frames.ndim() == 2;
    if ((frames.ndim() != 3 && !single) || frames.shape(frames.ndim() - 2) != g.height() ||
        frames.shape(frames.ndim() - 1) != g.width())
        throw py::value_error("frames are arrays of (height, width) = (" +
                              std::to_string(g.height()) + ", " + std::to_string(g.width()) +
                              ") or a stack of them");
    const auto count = single ? 1 : static_cast<size_t>(frames.shape(0));
    if (!values.empty() && values.size() != count)
        throw py::value_error("one value per frame: " + std::to_string(count) + " frames, " +
                              std::to_string(values.size()) + " values");
    if (!timestamps.empty() && timestamps.size() != count)
        throw py::value_error("one timestamp per frame: " + std::to_string(count) + " frames, " +
                              std::to_string(timestamps.size()) + " timestamps");
    // The frames a run on this device returned carry that run's times and exposures.
    const bool known = lastFrames_ && lastFrames_().is(frames) && lastTimes_.size() == count;
    CheckIdle();
    CheckOutput(OutputRefusal(path, static_cast<int64_t>(count), OutputRule(overwrite)), path);
    RunDescription description = session.Describe();
    description.expectedFrames = static_cast<int>(count);
    if (!dac.empty()) {
        description.scanDac = DacNameOf(layout.family, DacIndex(dac));
        description.scanValues.assign(values.begin(), values.end());
    }
    std::string error;
    std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, description, error);
    if (!writer) throw DeviceError(error, "file");
    std::vector<int32_t> counts(layout.pixelsInUse());
    for (size_t f = 0; f < count; ++f) {
        // One frame at a time, so a stack of any type costs one frame more in memory.
        const py::object frame = single ? py::object(frames) : frames[py::int_(f)];
        const auto image = py::array_t<int64_t, py::array::c_style | py::array::forcecast>(frame);
        const int64_t* data = image.data();
        for (uint32_t i = 0; i < g.pixels(); ++i)
            counts[ImageIndexToPixel(i, layout)] =
                static_cast<int32_t>(std::clamp<int64_t>(data[i], 0, INT32_MAX));
        FrameInfo info;
        info.exposure = exposure ? *exposure : known ? lastExposures_[f] : 0;
        info.timestamp = !timestamps.empty() ? timestamps[f]
                         : known             ? lastTimes_[f]
                                             : std::numeric_limits<double>::quiet_NaN();
        info.dacValue = values.empty() ? 0 : values[f];
        if (!writer->Append(counts, info)) throw DeviceError(writer->error(), "file");
    }
    if (!writer->Close()) throw DeviceError(writer->error(), "file");
}

}  // namespace ulvarin::python
