#include "device/drivers/driver_registry.h"

#include <mutex>
#include <utility>
#include <vector>

#include "device/drivers/composite_driver.h"

namespace ulvarin {
namespace {

struct Backend {
    std::string name;
    BackendMaker make;
};

std::mutex gDriverMutex;
std::shared_ptr<FtDriver> gDriver;
std::vector<Backend> gBackends;

// Called with gDriverMutex held.
std::shared_ptr<FtDriver> MakeComposite() {
    std::vector<std::shared_ptr<FtDriver>> drivers;
    for (const Backend& backend : gBackends)
        if (auto driver = backend.make ? backend.make() : nullptr) drivers.push_back(std::move(driver));
    return std::make_shared<CompositeDriver>(std::move(drivers));
}

}  // namespace

void RegisterBackend(const std::string& name, BackendMaker make) {
    std::lock_guard lock(gDriverMutex);
    for (Backend& backend : gBackends)
        if (backend.name == name) {
            backend.make = std::move(make);
            return;
        }
    gBackends.push_back({name, std::move(make)});
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
