// Real interfaces on USB, through libftdi1.
#pragma once

#include <memory>

#include "device/link/ft_driver.h"

namespace ulvarin {

// A driver for the FTDI devices on this machine's USB buses.
std::shared_ptr<FtDriver> MakeUsbDriver();

}  // namespace ulvarin
