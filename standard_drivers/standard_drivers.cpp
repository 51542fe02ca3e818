#include "standard_drivers/standard_drivers.h"

#include <cstdlib>
#include <string>

#include "standard_drivers/emulator_driver.h"
#include "device/drivers/driver_registry.h"
#include "device/drivers/ftdi_bus.h"

namespace ulvarin {
namespace {

// A high-speed USB-serial link as the real interface has: about 40 MB/s, and a fraction of a
// millisecond before each message reaches the host. ULVARIN_EMULATOR_RATE (MB/s, 0 for
// no limit) sets another rate.
constexpr double kLinkBytesPerSecond = 40e6;
constexpr double kLinkLatencySeconds = 0.0005;

sim::LinkTiming UserLinkTiming() {
    sim::LinkTiming timing{kLinkBytesPerSecond, kLinkLatencySeconds};
    if (const char* rate = std::getenv("ULVARIN_EMULATOR_RATE"); rate != nullptr && *rate) {
        char* end = nullptr;
        const double megabytes = std::strtod(rate, &end);
        if (end != rate && megabytes >= 0) {
            timing.bytesPerSecond = megabytes * 1e6;
            if (megabytes == 0) timing.latencySeconds = 0;
        }
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
    const char* set = std::getenv("ULVARIN_EMULATOR");
    if (set == nullptr) return {};
    std::string names;
    for (const std::string& entry : BadEmulatorEntries(set))
        names += (names.empty() ? "\"" : ", \"") + entry + "\"";
    if (names.empty()) return {};
    return "ULVARIN_EMULATOR: " + names +
           " left out: an entry is family:chips, the family medipix2, mxr or timepix, the chips "
           "1 to 4 (or \"off\")";
}

void RegisterStandardDrivers() {
    RegisterDriver("usb", [] { return MakeUsbDriver(); });
    RegisterDriver("emulator", MakeUserEmulator);
}

}  // namespace ulvarin
