#include "python/device.h"

#include <unistd.h>

#include <cmath>
#include <map>
#include <mutex>

#include "device/report.h"
#include "files/frame_writer_factory.h"
#include "files/mask_file.h"
#include "python/blocking.h"
#include "python/stream.h"

namespace ulvarin::python {
namespace {

constexpr double kInterfaceDacHighest = 4095 / 1638.6;

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

// An output refused for existing says how to replace it from here.
void CheckOutput(const std::string& refusal, const std::string& path) {
    if (refusal.empty()) return;
    throw py::value_error(refusal + (access(path.c_str(), F_OK) == 0 ? " overwrite=True replaces it." : ""));
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
        ImageOrderCounts(counts, layout_, {data_ + static_cast<size_t>(frames_) * pixels_, pixels_});
        values.push_back(info.dacValue);
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

private:
    ChipLayout layout_;
    size_t pixels_;
    py::array_t<uint32_t> array_;
    uint32_t* data_;
    int capacity_;
};

// Raises ulvarin.Interrupted (a KeyboardInterrupt) carrying what the run took.
[[noreturn]] void ThrowInterrupted(py::object frames, py::object values = py::none()) {
    PyErr_Clear();
    py::object type = py::module_::import("ulvarin").attr("Interrupted");
    py::object error = type("interrupted: the frames taken so far are in .frames");
    error.attr("frames") = std::move(frames);
    error.attr("values") = std::move(values);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
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
}  // namespace

int Device::OpenCount() {
    return gOpenDevices.load();
}

Device::Device(const std::string& description) : session_(std::make_unique<InterfaceSession>()) {
    std::string error;
    bool opened = false;
    {
        py::gil_scoped_release release;
        opened = session_->Open(description, error) &&
                 session_->CountHits(error) == InterfaceSession::Load::kOk;
    }
    if (!opened) {
        session_.reset();
        ThrowDeviceError(error);
    }
    ++gOpenDevices;
}

Device::~Device() {
    Close();
}

void Device::Close() {
    // A run taken on another thread holds the session until it ends.
    if (busy_.load()) throw DeviceError(kRunUnderWay, "busy");
    if (stream_ != nullptr) std::exchange(stream_, nullptr)->Abandon("The device was closed.");
    if (!session_) return;
    py::gil_scoped_release release;
    session_.reset();
    --gOpenDevices;
}

void Device::StreamEnded(Stream* stream) {
    if (stream_ == stream) stream_ = nullptr;
}

InterfaceSession& Device::Session() const {
    if (!session_) throw DeviceError("The device is closed.", "closed");
    return *session_;
}

void Device::CheckIdle() const {
    Session();
    if (stream_ != nullptr || busy_.load()) throw DeviceError(kRunUnderWay, "busy");
}

Device::RunClaim Device::ClaimRun() {
    Session();
    bool idle = false;
    if (stream_ != nullptr || !busy_.compare_exchange_strong(idle, true))
        throw DeviceError(kRunUnderWay, "busy");
    return RunClaim{&busy_};
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
    CheckIdle();
    const int index = DacIndex(name);
    std::string error;
    InterfaceSession::Change change;
    {
        py::gil_scoped_release release;
        change = Session().SetDac(index, values, error);
    }
    if (change == InterfaceSession::Change::kRefused) throw py::value_error(error);
    if (change == InterfaceSession::Change::kFailed) ThrowDeviceError(error);
}

double Device::bias() const {
    return Session().biasVolts();
}

void Device::setBias(double volts) {
    CheckIdle();
    Check(BiasRefusal(volts));
    std::string error;
    if (!Session().SetBias(volts, error)) ThrowDeviceError(error);
}

void Device::setInterfaceDac(int channel, double volts) {
    CheckIdle();
    if (channel != 0 && channel != 1)
        throw py::value_error("the interface has DAC 0 and DAC 1, not " + std::to_string(channel));
    if (!(volts >= 0 && volts <= kInterfaceDacHighest))
        throw py::value_error("the interface DACs take 0 to 2.499 V, not " + std::to_string(volts));
    std::string error;
    if (!Session().SetInterfaceDac(channel, volts, error)) ThrowDeviceError(error);
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
    if (Session().SetTimepixMode(code, error) != InterfaceSession::Load::kOk)
        ThrowDeviceError(error);
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
    {
        py::gil_scoped_release release;
        sent = session.SendPixelConfig({contiguous.data(), static_cast<size_t>(contiguous.size())}, error);
    }
    if (!sent) ThrowDeviceError(error);
}

void Device::loadMask(const std::string& path) {
    CheckIdle();
    std::string error;
    const InterfaceSession::Load result = Session().LoadMask(path, error);
    if (result == InterfaceSession::Load::kUnreadable) throw py::value_error(error);
    if (result != InterfaceSession::Load::kOk) ThrowDeviceError(error);
}

py::array_t<uint32_t> Device::acquire(double exposure, int frames) {
    CheckExposure(exposure, frames);
    const RunClaim claim = ClaimRun();
    InterfaceSession& session = Session();
    ArrayWriter writer(session.layout(), frames);
    const AcquireRequest request{frames, exposure, 0};
    StopFlag stop{0};
    RunOutcome outcome;
    const bool interrupted = RunInterruptibly(
        [&] { outcome = RunAcquire(session, writer, request, nullptr, stop); }, stop);
    if (interrupted) ThrowInterrupted(writer.Frames());
    if (outcome.end == RunEnd::kAcquisitionFailed) ThrowDeviceError(outcome.error);
    if (outcome.dropped > 0)
        PyErr_WarnEx(PyExc_RuntimeWarning, "frames were dropped: the array kept fewer", 1);
    return writer.Frames();
}

std::unique_ptr<Stream> Device::stream(double exposure, int frames) {
    CheckExposure(exposure, frames);
    CheckIdle();
    auto stream = std::make_unique<Stream>([this](Stream* s) { StreamEnded(s); }, Session(),
                                           exposure, frames);
    stream_ = stream.get();
    return stream;
}

py::tuple Device::scan(const std::string& dac, const std::vector<int>& values, double exposure,
                       int frames) {
    CheckExposure(exposure, frames);
    const RunClaim claim = ClaimRun();
    InterfaceSession& session = Session();
    const int index = DacIndex(dac);
    if (values.empty()) throw py::value_error("A scan needs at least one value.");
    Check(DacValuesRefusal(session.layout().family, index, values));
    ArrayWriter writer(session.layout(), static_cast<int>(values.size()));
    const ScanRequest request{index, values, exposure, frames};
    StopFlag stop{0};
    RunOutcome outcome;
    const bool interrupted = RunInterruptibly(
        [&] { outcome = RunScan(session, writer, request, nullptr, stop); }, stop);
    py::array_t<int32_t> taken(static_cast<py::ssize_t>(writer.values.size()), writer.values.data());
    if (interrupted) ThrowInterrupted(writer.Frames(), taken);
    if (outcome.end == RunEnd::kAcquisitionFailed) ThrowDeviceError(outcome.error);
    return py::make_tuple(writer.Frames(), taken);
}

py::dict Device::equalize(const std::string& dac, const std::vector<int>& values, double exposure,
                          int frames, bool maskUnequalizable, const std::string& out,
                          bool overwrite) {
    CheckExposure(exposure, frames);
    const RunClaim claim = ClaimRun();
    InterfaceSession& session = Session();
    const int index = DacIndex(dac);
    Check(EqualizeValuesRefusal(values.size()));
    Check(DacValuesRefusal(session.layout().family, index, values));
    std::unique_ptr<EqualizationFile> file;
    std::string error;
    if (!out.empty()) {
        CheckOutput(EqualizeOutputRefusal(out, OutputRule(overwrite)), out);
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
    StopFlag stop{0};
    EqualizeOutcome outcome;
    const bool interrupted = RunInterruptibly(
        [&] { outcome = RunEqualize(session, *file, request, nullptr, stop); }, stop);
    if (interrupted) ThrowInterrupted(py::none());
    if (outcome.run.end == RunEnd::kAcquisitionFailed) ThrowDeviceError(outcome.run.error);
    if (outcome.run.end == RunEnd::kWriteFailed) throw DeviceError(outcome.run.error, "file");
    if (!outcome.notKept.empty())
        PyErr_WarnEx(PyExc_RuntimeWarning, outcome.notKept.c_str(), 1);
    const EqualizationResult& r = outcome.result;
    std::vector<uint8_t> outcomes(r.outcome.size());
    for (size_t i = 0; i < outcomes.size(); ++i) outcomes[i] = static_cast<uint8_t>(r.outcome[i]);
    py::list chips;
    for (const ChipEqualization& c : r.chips)
        chips.append(py::dict(py::arg("target") = c.target, py::arg("spread_before") = c.spreadBefore,
                              py::arg("spread_after") = c.spreadAfter,
                              py::arg("equalized") = c.equalized,
                              py::arg("unequalizable") = c.unequalizable));
    return py::dict(
        py::arg("summary") = DescribeEqualization(r), py::arg("kept") = outcome.notKept.empty(),
        py::arg("not_kept") = outcome.notKept, py::arg("chips") = chips,
        py::arg("before") = ImageOf<float>(r.before, r.layout),
        py::arg("after") = ImageOf<float>(r.after, r.layout),
        py::arg("adjust") = ImageOf<uint8_t>(r.adjust, r.layout),
        py::arg("outcome") = ImageOf<uint8_t>(outcomes, r.layout), py::arg("pixel_config") = pixelConfig());
}

void Device::save(const std::string& path, const py::array& frames, double exposure,
                  const std::vector<int>& values, const std::string& dac, bool overwrite) {
    InterfaceSession& session = Session();
    const ChipLayout layout = session.layout();
    const ImageGeometry g = GeometryFor(layout.chipCount);
    const auto stack = py::array_t<int64_t, py::array::c_style | py::array::forcecast>(frames);
    const bool single = stack.ndim() == 2;
    if ((stack.ndim() != 3 && !single) || stack.shape(stack.ndim() - 2) != g.height() ||
        stack.shape(stack.ndim() - 1) != g.width())
        throw py::value_error("frames are arrays of (height, width) = (" + std::to_string(g.height()) +
                              ", " + std::to_string(g.width()) + ") or a stack of them");
    const auto count = single ? 1 : static_cast<size_t>(stack.shape(0));
    if (!values.empty() && values.size() != count)
        throw py::value_error("one value per frame: " + std::to_string(count) + " frames, " +
                              std::to_string(values.size()) + " values");
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
    const int64_t* data = stack.data();
    for (size_t f = 0; f < count; ++f) {
        const int64_t* image = data + f * g.pixels();
        for (uint32_t i = 0; i < g.pixels(); ++i)
            counts[ImageIndexToPixel(i, layout)] =
                static_cast<int32_t>(std::clamp<int64_t>(image[i], 0, INT32_MAX));
        FrameInfo info;
        info.exposure = exposure;
        info.dacValue = values.empty() ? 0 : values[f];
        if (!writer->Append(counts, info)) throw DeviceError(writer->error(), "file");
    }
    if (!writer->Close()) throw DeviceError(writer->error(), "file");
}

}  // namespace ulvarin::python
