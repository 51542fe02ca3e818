// Emulated interfaces, backed by the firmware model in sim/.
#pragma once

#include <memory>
#include <string_view>

#include "device/link/ft_driver.h"

namespace ulvarin {

// The emulated set named by `set` ("timepix:4,mxr:2,medipix2:1", "off"; empty means the
// default set). Returns nullptr for "off".
std::shared_ptr<FtDriver> MakeEmulatorDriver(std::string_view set);

}  // namespace ulvarin
