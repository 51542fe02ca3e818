// The FTDI devices attached to this machine, through libftdi1 and libusb.
#pragma once

#include <memory>

#include "device/drivers/usb_driver.h"

namespace ulvarin {

// The buses as libftdi1 sees them (vendor 0x0403, products 0x6001, 0x6010, 0x6011,
// 0x6014 and 0x6015). Each channel of a two-channel (0x6010) or four-channel (0x6011) chip
// is a device of its own, listed as "<description> A", "<description> B"... with its serial
// number followed by the letter; a multi-channel chip's plain description opens channel A.
// Single-channel chips keep their plain description. Open devices receive through several
// bulk reads kept in flight, so the chip's buffer never fills while the host is busy.
std::shared_ptr<UsbBus> MakeLibftdiBus();

// A driver for the FTDI devices on this machine's USB buses.
std::shared_ptr<FtDriver> MakeUsbDriver();

}  // namespace ulvarin
