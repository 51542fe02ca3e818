// The default driver as the programs make it: the registered drivers listed as one, in the
// order they were registered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/drivers/driver_registry.h"

namespace ulvarin {
namespace {

std::vector<std::string> Listed(FtDriver& driver) {
    uint32_t count = 0;
    EXPECT_EQ(driver.CreateDeviceInfoList(count), FT_OK);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        char description[kFtStringSize] = {};
        EXPECT_EQ(driver.GetDeviceInfoDetail(i, description), FT_OK);
        names.emplace_back(description);
    }
    return names;
}

TEST(DriverRegistry, ListsDriversInRegistrationOrderAndReplacesByName) {
    const std::string timepix = "Medipix2 ver 3.0 : Emulator Timepix x1";
    const std::string medipix = "Medipix2 ver 3.0 : Emulator Medipix2 x2";
    RegisterDriver("test-first", [] { return MakeEmulatorDriver("timepix:1"); });
    RegisterDriver("test-off", [] { return std::shared_ptr<FtDriver>(); });  // nothing to offer
    RegisterDriver("test-second", [] { return MakeEmulatorDriver("medipix2:2"); });
    EXPECT_EQ(Listed(*MakeDefaultDriver()), (std::vector{timepix, medipix}));

    // A new maker under a known name keeps the driver's place; drivers made before keep
    // what they had, and the installed default is made anew once the installed one goes.
    auto before = MakeDefaultDriver();
    RegisterDriver("test-first", [] { return MakeEmulatorDriver("mxr:1"); });
    InstallDriver(nullptr);
    EXPECT_EQ(Listed(Driver()),
              (std::vector<std::string>{"Medipix2 ver 3.0 : Emulator MXR x1", medipix}));
    EXPECT_EQ(Listed(*before), (std::vector{timepix, medipix}));

    // A driver installed by hand stands until it is removed.
    auto own = MakeEmulatorDriver("timepix:4");
    InstallDriver(own);
    EXPECT_EQ(&Driver(), own.get());

    for (const char* name : {"test-first", "test-off", "test-second"})
        RegisterDriver(name, [] { return std::shared_ptr<FtDriver>(); });
    InstallDriver(nullptr);
    EXPECT_TRUE(Listed(Driver()).empty());
}

}  // namespace
}  // namespace ulvarin
