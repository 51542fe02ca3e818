// Which driver the link layer talks to. Programs register their drivers at start-up (real
// USB, emulated interfaces, ...); the default driver lists them all, in registration order,
// as one composite. Tests install a driver of their own instead.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/drivers/ft_driver.h"

namespace ulvarin {

// Makes one driver's driver; nullptr when the driver has nothing to offer (for example
// emulated interfaces switched off).
using DriverMaker = std::function<std::shared_ptr<FtDriver>()>;

// Adds a driver to the default driver, after those registered before it. A second
// registration under the same name replaces the maker and keeps the driver's place.
// Drivers made earlier are not changed.
void RegisterDriver(const std::string& name, DriverMaker make);

// The driver the link layer uses. Until one is installed, the default driver is made on
// first use.
FtDriver& Driver();
// Installs `driver` for every later call (tests install peers; nullptr restores the default).
void InstallDriver(std::shared_ptr<FtDriver> driver);
// A composite of every registered driver's driver, in registration order (empty: no
// devices at all).
std::shared_ptr<FtDriver> MakeDefaultDriver();

}  // namespace ulvarin
