// The ulvarin Python module: the interfaces found, and a Device to open one of them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>

#include "base/program_version.h"
#include "device/drivers/driver_registry.h"
#include "python/device.h"
#include "python/stream.h"
#include "session/interface_session.h"
#include "standard_drivers/standard_drivers.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace ulvarin::python {
namespace {

// The description `wanted` names: None for the first, an index into devices(), or a name
// (exact, or the only one containing it).
std::string Choose(const py::object& wanted) {
    std::string error, description;
    if (wanted.is_none()) {
        description = ChooseInterface("", error);
    } else if (py::isinstance<py::int_>(wanted)) {
        const auto index = wanted.cast<long long>();
        if (index < 0) throw py::value_error("no interface number " + std::to_string(index));
        description = ChooseInterface(std::to_string(index), error);
    } else {
        description = ChooseInterface(wanted.cast<std::string>(), error);
    }
    if (description.empty()) throw DeviceError(error, "not found");
    return description;
}

// Which emulated interfaces are listed: "timepix:4,mxr:2,medipix2:1" or "off". The device
// list is made again at the next call, so it applies at any time no device is open (an
// open one keeps the driver it was opened on).
void SetEmulators(const std::string& set) {
    if (Device::OpenCount() > 0)
        throw DeviceError("The emulated set changes while no device is open: close them first.",
                          "busy");
    const char* before = std::getenv("ULVARIN_EMULATOR");
    const std::string previous = before ? before : "";
    setenv("ULVARIN_EMULATOR", set.c_str(), 1);
    if (const std::string warning = EmulatorSetWarning(); !warning.empty()) {
        if (before)
            setenv("ULVARIN_EMULATOR", previous.c_str(), 1);
        else
            unsetenv("ULVARIN_EMULATOR");
        throw py::value_error(warning);
    }
    InstallDriver(nullptr);
}

// A file name given as str or as a path object (pathlib.Path, os.PathLike); "" for None.
std::string PathText(const py::object& path) {
    if (path.is_none()) return {};
    return py::str(py::module_::import("os").attr("fspath")(path));
}

// Any integer Python knows (int, numpy integer scalars: whatever has __index__) as an int;
// TypeError for anything else, ValueError beyond int's range.
int Integer(const py::handle& value, const char* what) {
    if (!PyIndex_Check(value.ptr()) || PyBool_Check(value.ptr()))
        throw py::type_error(std::string(what) + " is an integer, not " +
                             std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    const auto number = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!number) throw py::error_already_set();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow != 0 || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        throw py::value_error(std::string(what) + " " + std::string(py::str(number)) +
                              " is out of range.");
    return static_cast<int>(v);
}

// One integer, or a sequence (list, tuple, numpy array) of them.
std::vector<int> Integers(const py::object& value, const char* what) {
    if (PyIndex_Check(value.ptr())) return {Integer(value, what)};
    if (py::isinstance<py::str>(value) || !py::hasattr(value, "__iter__"))
        throw py::type_error(std::string(what) + " is an integer or a sequence of integers");
    std::vector<int> values;
    for (const py::handle item : value) values.push_back(Integer(item, what));
    return values;
}

// One int for every chip, or a sequence of one per chip.
std::vector<int> DacValues(const py::object& value) {
    return Integers(value, "A DAC value");
}

// A count mode for every chip: one name, or a sequence of names (as count_mode reads) that
// must all be the same, since the chips are set together.
std::string CountModeOf(const py::object& value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    std::vector<std::string> modes;
    for (const py::handle item : value) modes.push_back(py::str(item));
    if (modes.empty() ||
        std::adjacent_find(modes.begin(), modes.end(), std::not_equal_to<>()) != modes.end())
        throw py::value_error("The count mode is set for every chip at once: one mode, not " +
                              std::string(py::str(value)) + ".");
    return modes.front();
}

// The chips' DACs as a mapping from name to one value per chip.
struct DacView {
    Device* device;
};

void BindDacView(py::module_& m) {
    py::class_<DacView>(m, "Dacs", R"(The chips' DACs by name (case ignored): each a list of one
value per chip. Assign one int for every chip or one value per chip; range-checked.)")
        .def("__getitem__",
             [](const DacView& v, const std::string& name) { return v.device->dac(name); })
        .def("__setitem__",
             [](const DacView& v, const std::string& name, const py::object& value) {
                 v.device->setDac(name, DacValues(value));
             })
        .def("__iter__", [](const DacView& v) { return py::iter(py::cast(v.device->dacNames())); })
        .def("__len__", [](const DacView& v) { return v.device->dacNames().size(); })
        .def("keys", [](const DacView& v) { return v.device->dacNames(); })
        .def("__contains__",
             [](const DacView& v, const std::string& name) { return v.device->hasDac(name); })
        .def("__repr__", [](const DacView& v) {
            py::dict values;
            for (const std::string& name : v.device->dacNames())
                values[py::str(name)] = v.device->dac(name);
            return py::str(values);
        });
}

void BindDevice(py::module_& m) {
    py::class_<Device>(m, "Device", R"(An open interface and its chips. Use it in a with block
(or call close()); frames are numpy uint32 arrays in the window's image layout.)")
        .def("close", &Device::Close,
             "Closes the interface, from any thread: a stream, or a run under way on another "
             "thread, ends (that call raises DeviceError).")
        .def("stop", &Device::Stop,
             "Ends the run under way on another thread after the frame in hand: that call "
             "returns what it took; a stream hands out what it queued, then ends.")
        .def_property_readonly("closed", &Device::closed)
        .def(
            "__enter__", [](Device& d) -> Device& { return d; }, py::return_value_policy::reference)
        .def("__exit__", [](Device& d, const py::args&) { d.Close(); })
        .def_property_readonly("description", &Device::description)
        .def_property_readonly("chip_type", &Device::chipType, "'Medipix2', 'MXR' or 'Timepix'.")
        .def_property_readonly("chip_count", &Device::chipCount)
        .def_property_readonly("chip_ids", &Device::chipIds, "The chips' IDs as they report them.")
        .def_property_readonly("firmware", &Device::firmware)
        .def_property_readonly("frame_shape", &Device::frameShape, "(height, width) of a frame.")
        .def_property_readonly("dac_names", &Device::dacNames)
        .def_property_readonly(
            "dacs", [](Device& d) { return DacView{&d}; }, py::keep_alive<0, 1>(),
            "The DACs by name: dacs['Ikrum'] is one value per chip; dacs['Ikrum'] = 20 sets all.")
        .def("get_dac", &Device::dac, "name"_a, "The DAC's value on each chip (case ignored).")
        .def(
            "set_dac",
            [](Device& d, const std::string& name, const py::object& value) {
                d.setDac(name, DacValues(value));
            },
            "name"_a, "value"_a,
            "Sets a DAC on every chip (one int) or on each chip (one per chip); range-checked.")
        .def_property("bias", &Device::bias, &Device::setBias,
                      "Sensor bias in volts: 0 (off) or 23 to 104.5 (NaN until set).")
        .def("set_interface_dac", &Device::setInterfaceDac, "channel"_a, "volts"_a,
             "Sets the interface's DAC 0 or 1 (0 to 2.499 V).")
        .def_property(
            "count_mode", &Device::countModes,
            [](Device& d, const py::object& mode) { d.setCountMode(CountModeOf(mode)); },
            "Each chip's counting: 'counting', 'tot', '1-hit', 'toa' or 'mixed'; set one of the "
            "first four on Timepix chips.")
        .def_property("pixel_config", &Device::pixelConfig, &Device::setPixelConfig,
                      "Pixel configuration words, uint16 [chips, 256, 256].")
        .def("load_mask", &Device::loadMask, "path"_a, "Loads a pixel mask file and sends it.")
        .def(
            "acquire", &Device::acquire, "exposure"_a, "frames"_a = 1, "timestamps"_a = false,
            R"(Takes `frames` frames of `exposure` seconds back to back: uint32 [frames, height, width]
(with timestamps=True, also each frame's seconds from the run's start). The frames must fit
in 4 GiB: acquire_to writes longer runs to disk. Ctrl-C raises Interrupted, whose .frames
holds the frames taken.)")
        .def(
            "acquire_to",
            [](Device& d, const py::object& path, double exposure, int frames, double period,
               bool append, bool overwrite, const py::object& stream, double streamWait) {
                DiskRun run;
                run.path = PathText(path);
                run.exposure = exposure;
                run.frames = frames;
                run.period = period;
                run.append = append;
                run.overwrite = overwrite;
                run.stream = stream.is_none() ? std::string() : stream.cast<std::string>();
                run.streamWait = streamWait;
                return d.acquireTo(run);
            },
            "path"_a, "exposure"_a, "frames"_a = 1, "period"_a = 0.0, "append"_a = false,
            "overwrite"_a = false, "stream"_a = py::none(), "stream_wait"_a = 0.0,
            R"(Takes `frames` frames of `exposure` seconds (one every `period` seconds, 0: back to
back) and writes each to `path` as it arrives (.h5, .tif or .txt by name), keeping little in
memory; `stream` (tcp://... or ipc://...) also sends them live, after waiting up to
`stream_wait` s for a consumer; path None streams only. A file that exists is kept
(ValueError) unless `overwrite`, or, for .h5, `append` adds the frames to its run. Returns a
RunReport; Ctrl-C raises Interrupted whose .outcome is the RunReport of the frames written.)")
        .def("stream", &Device::stream, "exposure"_a, "frames"_a, py::keep_alive<0, 1>(),
             "Iterates over `frames` frames taken back to back, each as it arrives.")
        .def(
            "scan",
            [](Device& d, const std::string& dac, const py::object& values, double exposure,
               int frames) {
                return d.scan(dac, Integers(values, "A scan value"), exposure, frames);
            },
            "dac"_a, "values"_a, "exposure"_a, "frames"_a = 1,
            "Sets the DAC of every chip to each value and takes `frames` frames summed: "
            "(frames [values, height, width], values). The DAC gets its value back.")
        .def(
            "equalize",
            [](Device& d, const std::string& dac, const py::object& values, double exposure,
               int frames, bool maskUnequalizable, const std::string& out, bool overwrite) {
                return d.equalize(dac, Integers(values, "A scan value"), exposure, frames,
                                  maskUnequalizable, out, overwrite);
            },
            "dac"_a, "values"_a, "exposure"_a, "frames"_a = 1, "mask_unequalizable"_a = false,
            "out"_a = "", "overwrite"_a = false,
            R"(Equalises the pixels' thresholds over a scan of `dac` (three scans). Returns a
dict: summary, kept (False with not_kept saying why, and a RuntimeWarning, when a chip's
spread widened or most pixels were out of reach: the chips then keep their configuration
from before), chips (target, spreads), maps before/after/adjust/outcome, pixel_config.
Timepix pixels count for the scans and keep their own mode. `out` names an .h5 results
file, kept if it exists unless `overwrite`.)")
        .def(
            "save",
            [](Device& d, const py::object& path, const py::array& frames,
               std::optional<double> exposure, const py::object& values, const std::string& dac,
               bool overwrite, const py::object& timestamps) {
                d.save(PathText(path), frames, exposure,
                       values.is_none() ? std::vector<int>{} : Integers(values, "A value"), dac,
                       overwrite,
                       timestamps.is_none() ? std::vector<double>{}
                                            : timestamps.cast<std::vector<double>>());
            },
            "path"_a, "frames"_a, "exposure"_a = py::none(), "values"_a = py::none(), "dac"_a = "",
            "overwrite"_a = false, "timestamps"_a = py::none(),
            "Writes frames (.h5, .tif or .txt) with this device's settings; a file that exists "
            "is kept (ValueError) unless `overwrite`. Frames a run returned keep its "
            "timestamps and exposures unless others are given; other frames' timestamps are "
            "unknown (NaN).");
}

void BindRunReport(py::module_& m) {
    py::class_<RunReport>(m, "RunReport", "How a run written to disk (and/or streamed) went.")
        .def_readonly("frames", &RunReport::frames, "Frames written.")
        .def_readonly("dropped", &RunReport::dropped,
                      "Frames taken but missing from the file: it could not keep up.")
        .def_readonly("stopped", &RunReport::stopped, "Ended early by stop().")
        .def_readonly("files", &RunReport::files, "The files written, in order.")
        .def_readonly("stream", &RunReport::stream, "The stream's endpoint ('' without one).")
        .def_readonly("streamed", &RunReport::streamed, "Frames sent on the stream.")
        .def_readonly("stream_dropped", &RunReport::streamDropped,
                      "Frames at least one stream consumer lost (it did not keep up; the "
                      "others got them).")
        .def("__repr__", [](const RunReport& r) {
            return "RunReport(frames=" + std::to_string(r.frames) +
                   ", dropped=" + std::to_string(r.dropped) +
                   ", stopped=" + (r.stopped ? "True" : "False") +
                   ", files=" + std::string(py::repr(py::cast(r.files))) +
                   ", stream=" + std::string(py::repr(py::str(r.stream))) +
                   ", streamed=" + std::to_string(r.streamed) +
                   ", stream_dropped=" + std::to_string(r.streamDropped) + ")";
        });
}

void BindStream(py::module_& m) {
    py::class_<Stream>(m, "Stream", "Frames of a continuous acquisition, one per next().")
        .def(
            "__iter__", [](Stream& s) -> Stream& { return s; }, py::return_value_policy::reference)
        .def("__next__", &Stream::Next)
        .def("close", &Stream::Close, "Ends the run.")
        .def(
            "__enter__", [](Stream& s) -> Stream& { return s; }, py::return_value_policy::reference)
        .def("__exit__", [](Stream& s, const py::args&) { s.Close(); })
        .def_property_readonly("dropped", &Stream::dropped,
                               "Frames lost because the consumer did not keep up.")
        .def_property_readonly("taken", &Stream::taken, "Frames handed out so far.")
        .def_property_readonly("last_number", &Stream::lastNumber,
                               "The number in the run (from 1) of the frame handed out last.");
}

void BindErrors(py::module_& m) {
    static py::exception<DeviceError> deviceError(m, "DeviceError", PyExc_RuntimeError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const DeviceError& e) {
            py::object error = py::reinterpret_borrow<py::object>(deviceError.ptr())(e.what());
            error.attr("kind") = e.kind();
            PyErr_SetObject(deviceError.ptr(), error.ptr());
        }
    });
    m.attr("Interrupted") = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc("ulvarin.Interrupted",
                                  "Ctrl-C during a run; .frames (.values, .timestamps) hold what "
                                  "it took, .outcome a run to disk's RunReport.",
                                  PyExc_KeyboardInterrupt, nullptr));
}

}  // namespace
}  // namespace ulvarin::python

PYBIND11_MODULE(ulvarin, m) {
    using namespace ulvarin::python;
    m.doc() =
        "The detector's interfaces from Python: open one, set DACs, take frames as numpy arrays.";
    ulvarin::RegisterStandardDrivers();
    InstallReportHook();
    BindErrors(m);
    BindDacView(m);
    BindRunReport(m);
    BindDevice(m);
    BindStream(m);
    m.def("devices", &ulvarin::ListInterfaces,
          "The interfaces found: real ones first, then the emulated ones.");
    m.def(
        "open", [](const py::object& wanted) { return std::make_unique<Device>(Choose(wanted)); },
        "device"_a = py::none(),
        "Opens an interface: None for the first listed, an index into devices(), or a name.");
    m.def("set_emulators", &SetEmulators, "emulators"_a,
          "Chooses the emulated interfaces listed: e.g. 'timepix:4,mxr:2' or 'off'.");
    m.attr("__version__") = ulvarin::ProgramVersion();
    // Runs on daemon threads end, and the devices close, before the interpreter finalizes:
    // a thread it ends inside a run would otherwise take the process down with it.
    py::module_::import("atexit").attr("register")(py::cpp_function(&Device::CloseAllAtExit));
}
