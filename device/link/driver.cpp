#include <cstdlib>
#include <mutex>

#include "device/link/composite_driver.h"
#include "device/link/emulator_driver.h"
#include "device/link/ft_driver.h"
#include "device/link/usb_driver.h"

namespace ulvarin {
namespace {

std::mutex gDriverMutex;
std::shared_ptr<FtDriver> gDriver;

}  // namespace

std::shared_ptr<FtDriver> MakeDefaultDriver() {
    std::vector<std::shared_ptr<FtDriver>> backends;
    backends.push_back(MakeUsbDriver());
    const char* set = std::getenv("ULVARIN_EMULATOR");
    if (auto emulator = MakeEmulatorDriver(set ? set : "")) backends.push_back(emulator);
    return std::make_shared<CompositeDriver>(std::move(backends));
}

FtDriver& Driver() {
    std::lock_guard lock(gDriverMutex);
    if (!gDriver) gDriver = MakeDefaultDriver();
    return *gDriver;
}

void InstallDriver(std::shared_ptr<FtDriver> driver) {
    std::lock_guard lock(gDriverMutex);
    gDriver = std::move(driver);
}

}  // namespace ulvarin
