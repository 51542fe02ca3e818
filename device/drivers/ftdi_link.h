// An open FTDI device as a UsbLink: several bulk reads kept in flight on its IN endpoint so
// the chip's buffer never fills while the host is busy, and bulk writes with one deadline.
#pragma once

#include <ftdi.h>

#include <memory>

#include "device/drivers/usb_driver.h"

namespace ulvarin {

using FtdiContext = std::unique_ptr<ftdi_context, decltype(&ftdi_free)>;

// How long the link's reader waits for a read to end before it looks at its own state
// again; also the read timeout libftdi is given for an open device.
constexpr int kFtdiPollTimeoutMs = 100;

// The link over `ctx`, whose device is open and configured; it closes the device when it
// goes. Null when the memory for the reads cannot be had (the device is closed then).
std::unique_ptr<UsbLink> OpenLibftdiLink(FtdiContext ctx, UsbIdentity identity);

}  // namespace ulvarin
