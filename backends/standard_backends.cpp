#include "backends/standard_backends.h"

#include <cstdlib>

#include "backends/emulator_driver.h"
#include "device/drivers/driver_registry.h"
#include "device/drivers/ftdi_bus.h"

namespace ulvarin {

void RegisterStandardBackends() {
    RegisterBackend("usb", [] { return MakeUsbDriver(); });
    RegisterBackend("emulator", []() -> std::shared_ptr<FtDriver> {
        const char* set = std::getenv("ULVARIN_EMULATOR");
        return MakeEmulatorDriver(set ? set : "");
    });
}

}  // namespace ulvarin
