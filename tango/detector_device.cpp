#include "tango/detector_device.h"

#include <charconv>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <limits>

namespace ulvarin::tango_server {
namespace {

using Reader = std::function<void(DetectorDevice&, Tango::Attribute&)>;
using Writer = std::function<void(DetectorDevice&, Tango::WAttribute&)>;

// An attribute of any shape (Base: Attr, SpectrumAttr or ImageAttr) whose read and write
// are the functions it is given; a writer makes it READ_WRITE.
template <typename Base>
class FunctionAttribute final : public Base {
public:
    template <typename... Args>
    FunctionAttribute(Reader reader, Writer writer, Args&&... args)
        : Base(std::forward<Args>(args)...), reader_(std::move(reader)), writer_(std::move(writer)) {}
    void read(Tango::DeviceImpl* device, Tango::Attribute& attribute) override {
        Guarded("read", [&] { reader_(static_cast<DetectorDevice&>(*device), attribute); });
    }
    void write(Tango::DeviceImpl* device, Tango::WAttribute& attribute) override {
        Guarded("write", [&] { writer_(static_cast<DetectorDevice&>(*device), attribute); });
    }

private:
    Reader reader_;
    Writer writer_;
};

Tango::Attr* Scalar(const char* name, long type, Reader reader, Writer writer = {}) {
    const Tango::AttrWriteType access = writer ? Tango::READ_WRITE : Tango::READ;
    return new FunctionAttribute<Tango::Attr>(std::move(reader), std::move(writer), name, type, access);
}

Tango::Attr* Texts(const char* name, long length, Reader reader) {
    return new FunctionAttribute<Tango::SpectrumAttr>(std::move(reader), {}, name,
                                                      Tango::DEV_STRING, Tango::READ, length);
}

void Set(DetectorDevice& device, Tango::Attribute& attribute, double value) {
    Tango::DevDouble& slot = device.doubles[attribute.get_name()];
    slot = value;
    attribute.set_value(&slot);
}

void Set(DetectorDevice& device, Tango::Attribute& attribute, int64_t value) {
    Tango::DevLong& slot = device.longs[attribute.get_name()];
    slot = static_cast<Tango::DevLong>(
        std::clamp<int64_t>(value, std::numeric_limits<Tango::DevLong>::min(),
                            std::numeric_limits<Tango::DevLong>::max()));
    attribute.set_value(&slot);
}

void SetBool(DetectorDevice& device, Tango::Attribute& attribute, bool value) {
    Tango::DevBoolean& slot = device.booleans[attribute.get_name()];
    slot = value;
    attribute.set_value(&slot);
}

void Set(DetectorDevice& device, Tango::Attribute& attribute, std::vector<std::string> values,
         bool spectrum) {
    const std::string& name = attribute.get_name();
    std::vector<std::string>& kept = device.texts[name];
    std::vector<Tango::DevString>& pointers = device.textPointers[name];
    kept = std::move(values);
    pointers.clear();
    for (std::string& value : kept) pointers.push_back(value.data());
    if (spectrum) attribute.set_value(pointers.data(), static_cast<long>(pointers.size()));
    else attribute.set_value(pointers.data());
}

void SetText(DetectorDevice& device, Tango::Attribute& attribute, std::string value) {
    Set(device, attribute, std::vector<std::string>{std::move(value)}, false);
}

double WrittenDouble(Tango::WAttribute& attribute) {
    Tango::DevDouble value = 0;
    attribute.get_write_value(value);
    return value;
}

int64_t WrittenLong(Tango::WAttribute& attribute) {
    Tango::DevLong value = 0;
    attribute.get_write_value(value);
    return value;
}

std::string WrittenText(Tango::WAttribute& attribute) {
    Tango::DevString value = nullptr;
    attribute.get_write_value(value);
    return value != nullptr ? value : "";
}

std::string Joined(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : " ") + value;
    return text;
}

// A whole number given as text (the scan's and SetDac's arguments); Refused otherwise.
int WholeNumber(const std::string& text, const char* what) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        throw Refused(std::string(what) + " is a whole number, not \"" + text + "\".");
    return value;
}

using Execute = std::function<CORBA::Any*(Tango::Command&, DetectorDevice&, const CORBA::Any&)>;

// A command whose execution is the function it is given.
class FunctionCommand final : public Tango::Command {
public:
    FunctionCommand(const char* commandName, Tango::CmdArgType in, Tango::CmdArgType out,
                    const char* inText, const char* outText, Execute execute)
        : Command(commandName, in, out, inText, outText), execute_(std::move(execute)) {}
    CORBA::Any* execute(Tango::DeviceImpl* device, const CORBA::Any& in) override {
        return Guarded(get_name().c_str(),
                       [&] { return execute_(*this, static_cast<DetectorDevice&>(*device), in); });
    }

private:
    Execute execute_;
};

std::string TextArgument(Tango::Command& command, const CORBA::Any& in) {
    const char* text = nullptr;
    command.extract(in, text);
    return text != nullptr ? text : "";
}

std::vector<std::string> TextsArgument(Tango::Command& command, const CORBA::Any& in) {
    const Tango::DevVarStringArray* array = nullptr;
    command.extract(in, array);
    std::vector<std::string> texts;
    for (CORBA::ULong i = 0; array != nullptr && i < array->length(); ++i)
        texts.emplace_back((*array)[i].in());
    return texts;
}

// A command without argument or result that calls `call` on the detector.
Tango::Command* Plain(const char* name, const char* text, std::function<void(Detector&)> call) {
    return new FunctionCommand(name, Tango::DEV_VOID, Tango::DEV_VOID, "", text,
                               [call](Tango::Command& command, DetectorDevice& device,
                                      const CORBA::Any&) {
                                   call(device.detector());
                                   return command.insert();
                               });
}

}  // namespace

void ThrowTango(const char* reason, const std::string& text, const char* origin) {
    Tango::Except::throw_exception(reason, text, origin);
    throw std::logic_error(text);  // not reached: the line above throws
}

DetectorDevice::DetectorDevice(Tango::DeviceClass* cls, const char* name)
    : TANGO_BASE_CLASS(cls, name) {
    init_device();
}

DetectorDevice::~DetectorDevice() {
    delete_device();
}

void DetectorDevice::ReadProperties() {
    if (!Tango::Util::_UseDb) return;
    Tango::DbData data;
    data.push_back(Tango::DbDatum("Interface"));
    data.push_back(Tango::DbDatum("Emulators"));
    get_db_device()->get_property(data);
    if (!data[0].is_empty()) data[0] >> interface_;
    if (!data[1].is_empty()) {
        // A property file splits "timepix:4,mxr:2" at the comma: the entries are joined back.
        std::vector<std::string> entries;
        data[1] >> entries;
        std::string set;
        for (const std::string& entry : entries) set += (set.empty() ? "" : ",") + entry;
        // The emulated interfaces are listed from this variable whenever interfaces are.
        setenv("ULVARIN_EMULATOR", set.c_str(), 1);
    }
}

void DetectorDevice::init_device() {
    detector_ = std::make_unique<Detector>();
    ReadProperties();
    try {
        detector_->Open(interface_);
    } catch (const std::exception& e) {
        // The server stays up in FAULT with the reason as its status; Open tries again.
        std::fprintf(stderr, "ulvarin-tango: %s: %s\n", get_name().c_str(), e.what());
    }
    pusherQuit_ = false;
    pusher_ = std::thread([this] { PushFrames(); });
}

void DetectorDevice::StopPusher() {
    {
        std::lock_guard lock(pusherMutex_);
        pusherQuit_ = true;
    }
    pusherWake_.notify_all();
    if (detector_) detector_->Wake();
    if (pusher_.joinable()) pusher_.join();
}

void DetectorDevice::delete_device() {
    StopPusher();
    // Ends a run (its file closed with the frames taken) and closes the interface.
    detector_.reset();
}

// Sends the latest frame to change-event subscribers whenever one has arrived, at most
// kEventsPerSecond times a second: frames between pushes are skipped, never queued, so a
// slow client costs the run nothing.
void DetectorDevice::PushFrames() {
    using Clock = std::chrono::steady_clock;
    int64_t seen = 0;
    Clock::time_point next = Clock::now();
    for (;;) {
        {
            std::unique_lock lock(pusherMutex_);
            if (pusherWake_.wait_until(lock, next, [this] { return pusherQuit_; })) return;
        }
        if (!detector_->WaitForFrame(seen, Clock::now() + std::chrono::milliseconds(500))) {
            next = Clock::now();
            continue;
        }
        const FrameImage image = detector_->LastFrame();
        if (image.pixels.empty()) continue;
        auto* data = new Tango::DevULong[image.pixels.size()];
        std::copy(image.pixels.begin(), image.pixels.end(), data);
        try {
            // The device's monitor (the server's serial model is by device), as a client
            // call takes it, so the attribute is not read while it is pushed.
            Tango::AutoTangoMonitor sync(&get_dev_monitor());
            push_change_event("last_frame", data, image.width, image.height, true);
        } catch (const Tango::DevFailed& e) {
            // A monitor that stays taken (the device being deleted) skips this frame.
            Tango::Except::print_exception(e);
        }
        next = Clock::now() + std::chrono::milliseconds(1000 / kEventsPerSecond);
    }
}

Tango::DevState DetectorDevice::dev_state() {
    Tango::DevState state = Tango::UNKNOWN;
    switch (detector_->state()) {
        case DetectorState::kOff:
            state = Tango::OFF;
            break;
        case DetectorState::kOn:
            state = Tango::ON;
            break;
        case DetectorState::kRunning:
            state = Tango::RUNNING;
            break;
        case DetectorState::kFault:
            state = Tango::FAULT;
            break;
    }
    set_state(state);
    return state;
}

Tango::ConstDevString DetectorDevice::dev_status() {
    set_status(detector_->status());
    return TANGO_BASE_CLASS::dev_status();
}

DetectorDeviceClass* DetectorDeviceClass::instance_ = nullptr;

DetectorDeviceClass* DetectorDeviceClass::Init(const char* name) {
    if (instance_ == nullptr) {
        std::string text(name);
        instance_ = new DetectorDeviceClass(text);
    }
    return instance_;
}

DetectorDeviceClass::DetectorDeviceClass(std::string& className) : Tango::DeviceClass(className) {}

void DetectorDeviceClass::device_factory(const Tango::DevVarStringArray* devices) {
    for (CORBA::ULong i = 0; i < devices->length(); ++i) {
        auto* device = new DetectorDevice(this, (*devices)[i].in());
        device_list.push_back(device);
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb) export_device(device);
        else export_device(device, device->get_name().c_str());
    }
}

void DetectorDeviceClass::attribute_factory(std::vector<Tango::Attr*>& attributes) {
    auto det = [](DetectorDevice& device) -> Detector& { return device.detector(); };
    attributes.push_back(Scalar("interface", Tango::DEV_STRING, [det](auto& dev, auto& att) {
        SetText(dev, att, det(dev).description());
    }));
    attributes.push_back(Texts("interfaces", 64, [](auto& dev, auto& att) {
        Set(dev, att, ListInterfaces(), true);
    }));
    attributes.push_back(Scalar("chip_type", Tango::DEV_STRING, [det](auto& dev, auto& att) {
        SetText(dev, att, det(dev).chipType());
    }));
    attributes.push_back(Scalar("chip_count", Tango::DEV_LONG, [det](auto& dev, auto& att) {
        Set(dev, att, int64_t{det(dev).chipCount()});
    }));
    attributes.push_back(Texts("chip_ids", 4, [det](auto& dev, auto& att) {
        Set(dev, att, det(dev).chipIds(), true);
    }));
    attributes.push_back(Texts("dac_names", 16, [det](auto& dev, auto& att) {
        Set(dev, att, det(dev).dacNames(), true);
    }));
    attributes.push_back(Scalar(
        "exposure", Tango::DEV_DOUBLE,
        [det](auto& dev, auto& att) { Set(dev, att, det(dev).settings().exposure); },
        [det](auto& dev, auto& att) { det(dev).SetExposure(WrittenDouble(att)); }));
    attributes.push_back(Scalar(
        "frames", Tango::DEV_LONG,
        [det](auto& dev, auto& att) { Set(dev, att, int64_t{det(dev).settings().frames}); },
        [det](auto& dev, auto& att) { det(dev).SetFrames(WrittenLong(att)); }));
    attributes.push_back(Scalar(
        "period", Tango::DEV_DOUBLE,
        [det](auto& dev, auto& att) { Set(dev, att, det(dev).settings().period); },
        [det](auto& dev, auto& att) { det(dev).SetPeriod(WrittenDouble(att)); }));
    attributes.push_back(Scalar(
        "count_mode", Tango::DEV_STRING,
        [det](auto& dev, auto& att) { SetText(dev, att, Joined(det(dev).countModes())); },
        [det](auto& dev, auto& att) { det(dev).SetCountMode(WrittenText(att)); }));
    attributes.push_back(Scalar(
        "threshold", Tango::DEV_LONG,
        [det](auto& dev, auto& att) {
            Set(dev, att, int64_t{det(dev).GetDac(det(dev).thresholdDac()).at(0)});
        },
        [det](auto& dev, auto& att) {
            det(dev).SetDac(det(dev).thresholdDac(), {static_cast<int>(WrittenLong(att))});
        }));
    attributes.push_back(Scalar(
        "bias", Tango::DEV_DOUBLE, [det](auto& dev, auto& att) { Set(dev, att, det(dev).bias()); },
        [det](auto& dev, auto& att) { det(dev).SetBias(WrittenDouble(att)); }));
    attributes.push_back(Scalar(
        "output_file", Tango::DEV_STRING,
        [det](auto& dev, auto& att) { SetText(dev, att, det(dev).settings().outputFile); },
        [det](auto& dev, auto& att) { det(dev).SetOutputFile(WrittenText(att)); }));
    attributes.push_back(Scalar(
        "overwrite", Tango::DEV_BOOLEAN,
        [det](auto& dev, auto& att) { SetBool(dev, att, det(dev).settings().overwrite); },
        [det](auto& dev, auto& att) {
            Tango::DevBoolean value = false;
            att.get_write_value(value);
            det(dev).SetOverwrite(value);
        }));
    attributes.push_back(Scalar(
        "stream_endpoint", Tango::DEV_STRING,
        [det](auto& dev, auto& att) { SetText(dev, att, det(dev).settings().streamEndpoint); },
        [det](auto& dev, auto& att) { det(dev).SetStreamEndpoint(WrittenText(att)); }));
    attributes.push_back(Scalar(
        "stream_wait", Tango::DEV_DOUBLE,
        [det](auto& dev, auto& att) { Set(dev, att, det(dev).settings().streamWait); },
        [det](auto& dev, auto& att) { det(dev).SetStreamWait(WrittenDouble(att)); }));
    attributes.push_back(Scalar("frames_acquired", Tango::DEV_LONG, [det](auto& dev, auto& att) {
        Set(dev, att, det(dev).framesAcquired());
    }));
    attributes.push_back(Scalar("frames_dropped", Tango::DEV_LONG, [det](auto& dev, auto& att) {
        Set(dev, att, det(dev).framesDropped());
    }));
    auto* lastFrame = new FunctionAttribute<Tango::ImageAttr>(
        [det](DetectorDevice& dev, Tango::Attribute& att) {
            const FrameImage image = det(dev).LastFrame();
            if (image.pixels.empty()) throw Refused("No interface is open: no frame to show.");
            auto* data = new Tango::DevULong[image.pixels.size()];
            std::copy(image.pixels.begin(), image.pixels.end(), data);
            att.set_value(data, image.width, image.height, true);
        },
        Writer{}, "last_frame", Tango::DEV_ULONG, Tango::READ, 512, 512);
    // Pushed by the server itself (no polling), without the library comparing values.
    lastFrame->set_change_event(true, false);
    attributes.push_back(lastFrame);
}

void DetectorDeviceClass::command_factory() {
    command_list.push_back(new FunctionCommand(
        "Open", Tango::DEV_STRING, Tango::DEV_VOID,
        "Interface: its number in the interfaces attribute, its description or a unique part "
        "of it; empty for the Interface property (or the first listed)",
        "", [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            const std::string wanted = TextArgument(command, in);
            device.detector().Open(wanted.empty() ? device.interfaceProperty() : wanted);
            return command.insert();
        }));
    command_list.push_back(Plain("Close", "Ends a run and closes the interface",
                                 [](Detector& d) { d.Close(); }));
    command_list.push_back(Plain("Start",
                                 "Takes `frames` frames of `exposure` to output_file and/or "
                                 "stream_endpoint on the server's own thread",
                                 [](Detector& d) { d.Start(); }));
    command_list.push_back(
        Plain("Stop", "Ends the run after the frame under way", [](Detector& d) { d.Stop(); }));
    command_list.push_back(new FunctionCommand(
        "Scan", Tango::DEVVAR_STRINGARRAY, Tango::DEV_VOID,
        "[DAC name, from, to, step]: one frame of `exposure` per value, to output_file and/or "
        "stream_endpoint; the step may be left out (1)",
        "", [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            const std::vector<std::string> args = TextsArgument(command, in);
            if (args.size() != 3 && args.size() != 4)
                throw Refused("Scan takes [DAC name, from, to, step], not " +
                              std::to_string(args.size()) + " values.");
            device.detector().Scan(args[0], WholeNumber(args[1], "from"),
                                   WholeNumber(args[2], "to"),
                                   args.size() == 4 ? WholeNumber(args[3], "step") : 1);
            return command.insert();
        }));
    command_list.push_back(new FunctionCommand(
        "Equalize", Tango::DEVVAR_STRINGARRAY, Tango::DEV_VOID,
        "[DAC name, from, to, step, \"mask\"]: equalises the thresholds over three scans of "
        "the DAC (one frame of `exposure` per value); results to output_file (.h5) when set; "
        "\"mask\" (optional) masks the pixels it cannot equalise",
        "", [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            const std::vector<std::string> args = TextsArgument(command, in);
            const bool mask = args.size() == 5 && args[4] == "mask";
            if (args.size() != 4 && !mask)
                throw Refused("Equalize takes [DAC name, from, to, step] and optionally \"mask\".");
            device.detector().Equalize(args[0], WholeNumber(args[1], "from"),
                                       WholeNumber(args[2], "to"), WholeNumber(args[3], "step"),
                                       mask);
            return command.insert();
        }));
    command_list.push_back(new FunctionCommand(
        "LoadMask", Tango::DEV_STRING, Tango::DEV_VOID,
        "Pixel mask file (the window's format) to send as the pixel configuration", "",
        [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            device.detector().LoadMask(TextArgument(command, in));
            return command.insert();
        }));
    command_list.push_back(new FunctionCommand(
        "SetDac", Tango::DEVVAR_STRINGARRAY, Tango::DEV_VOID,
        "[DAC name, value] for every chip, or [DAC name, value of chip 0, chip 1, ...]", "",
        [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            const std::vector<std::string> args = TextsArgument(command, in);
            if (args.size() < 2)
                throw Refused("SetDac takes [DAC name, value, ...], not " +
                              std::to_string(args.size()) + " values.");
            std::vector<int> values;
            for (size_t i = 1; i < args.size(); ++i)
                values.push_back(WholeNumber(args[i], "a DAC value"));
            device.detector().SetDac(args[0], values);
            return command.insert();
        }));
    command_list.push_back(new FunctionCommand(
        "GetDac", Tango::DEV_STRING, Tango::DEVVAR_LONGARRAY, "DAC name (case ignored)",
        "Its value on each chip, chip 0 first",
        [](Tango::Command& command, DetectorDevice& device, const CORBA::Any& in) {
            const std::vector<int> values = device.detector().GetDac(TextArgument(command, in));
            auto* result = new Tango::DevVarLongArray();
            result->length(static_cast<CORBA::ULong>(values.size()));
            for (size_t i = 0; i < values.size(); ++i) (*result)[i] = values[i];
            return command.insert(result);
        }));
}

}  // namespace ulvarin::tango_server
