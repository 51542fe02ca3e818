#include "standard_drivers/standard_drivers.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "device/drivers/driver_registry.h"
#include "device/drivers/ftdi_bus.h"
#include "standard_drivers/emulator_driver.h"

namespace ulvarin {
namespace {

// A high-speed USB-serial link as the real interface has: about 40 MB/s, and a fraction of a
// millisecond before each message reaches the host. ULVARIN_EMULATOR_RATE (MB/s, 0 for
// no limit) sets another rate.
constexpr double kLinkBytesPerSecond = 40e6;
constexpr double kLinkLatencySeconds = 0.0005;

// The rate ULVARIN_EMULATOR_RATE names: a whole number text, finite and not negative; false
// (the default rate kept) for anything else, which EmulatorSetWarning then names.
bool UserRate(double& megabytes) {
    const char* rate = std::getenv("ULVARIN_EMULATOR_RATE");
    if (rate == nullptr || *rate == 0) return false;
    char* end = nullptr;
    megabytes = std::strtod(rate, &end);
    return end != rate && *end == 0 && std::isfinite(megabytes) && megabytes >= 0;
}

sim::LinkTiming UserLinkTiming() {
    sim::LinkTiming timing{kLinkBytesPerSecond, kLinkLatencySeconds};
    double megabytes = 0;
    if (UserRate(megabytes)) {
        timing.bytesPerSecond = megabytes * 1e6;
        if (megabytes == 0) timing.latencySeconds = 0;
    }
    return timing;
}

std::shared_ptr<FtDriver> MakeUserEmulator() {
    const char* set = std::getenv("ULVARIN_EMULATOR");
    std::shared_ptr<EmulatorDriver> emulator = MakeEmulatorDriver(set ? set : "");
    if (!emulator) return nullptr;
    const sim::LinkTiming timing = UserLinkTiming();
    for (size_t i = 0; i < emulator->InterfaceCount(); ++i)
        emulator->WithLink(i, [&](sim::LinkModel& link) { link.SetTiming(timing); });
    return emulator;
}

}  // namespace

std::string EmulatorSetWarning() {
    std::string warning;
    if (const char* set = std::getenv("ULVARIN_EMULATOR")) {
        std::string names;
        for (const std::string& entry : BadEmulatorEntries(set))
            names += (names.empty() ? "\"" : ", \"") + entry + "\"";
        if (!names.empty())
            warning = "ULVARIN_EMULATOR: " + names +
                      " left out: an entry is family:chips, the family medipix2, mxr or timepix, "
                      "the chips 1 to 4 (or \"off\")";
    }
    const char* rate = std::getenv("ULVARIN_EMULATOR_RATE");
    double megabytes = 0;
    if (rate != nullptr && *rate != 0 && !UserRate(megabytes)) {
        if (!warning.empty()) warning += "; ";
        warning += "ULVARIN_EMULATOR_RATE: \"" + std::string(rate) +
                   "\" is no rate (MB/s, 0 or more; 0: no limit): the link keeps 40 MB/s";
    }
    return warning;
}

void RegisterStandardDrivers() {
    RegisterDriver("usb", [] { return MakeUsbDriver(); });
    RegisterDriver("emulator", MakeUserEmulator);
}

}  // namespace ulvarin
