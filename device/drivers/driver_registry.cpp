#include "device/drivers/driver_registry.h"

#include <mutex>
#include <utility>
#include <vector>

#include "device/drivers/composite_driver.h"

namespace ulvarin {
namespace {

struct RegisteredDriver {
    std::string name;
    DriverMaker make;
};

std::mutex gDriverMutex;
std::shared_ptr<FtDriver> gDriver;
std::vector<RegisteredDriver> gDrivers;

// Called with gDriverMutex held.
std::shared_ptr<FtDriver> MakeComposite() {
    std::vector<std::shared_ptr<FtDriver>> drivers;
    for (const RegisteredDriver& registered : gDrivers)
        if (auto driver = registered.make ? registered.make() : nullptr) drivers.push_back(std::move(driver));
    return std::make_shared<CompositeDriver>(std::move(drivers));
}

}  // namespace

void RegisterDriver(const std::string& name, DriverMaker make) {
    std::lock_guard lock(gDriverMutex);
    for (RegisteredDriver& driver : gDrivers)
        if (driver.name == name) {
            driver.make = std::move(make);
            return;
        }
    gDrivers.push_back({name, std::move(make)});
}

std::shared_ptr<FtDriver> MakeDefaultDriver() {
    std::lock_guard lock(gDriverMutex);
    return MakeComposite();
}

FtDriver& Driver() {
    std::lock_guard lock(gDriverMutex);
    if (!gDriver) gDriver = MakeComposite();
    return *gDriver;
}

void InstallDriver(std::shared_ptr<FtDriver> driver) {
    std::lock_guard lock(gDriverMutex);
    gDriver = std::move(driver);
}

}  // namespace ulvarin
