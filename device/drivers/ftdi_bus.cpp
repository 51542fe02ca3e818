// The FTDI devices on this machine's USB buses, through libftdi1 and libusb: listing them,
// telling the channels of a multi-channel chip apart, opening and configuring them. An open
// device's data path is in ftdi_link.cpp.
//
// How libftdi 1.5 / libusb results become driver status codes:
//
//   call                         result                               status
//   ---------------------------  -----------------------------------  -------------------------
//   ftdi_new                     NULL (libusb could not start)        FT_OTHER_ERROR
//   ftdi_usb_find_all            -3 out of memory                     FT_INSUFFICIENT_RESOURCES
//                                -5, -6 bus list / descriptor failed  FT_IO_ERROR
//   ftdi_usb_get_strings         -7, -8 no readable description       FT_OK, empty description
//                                -9 no readable serial number         FT_OK, empty serial
//                                -4 device cannot be opened           FT_DEVICE_NOT_OPENED
//                                                                     (listed, no description)
//                                other                                FT_IO_ERROR
//   ftdi_usb_open_dev            -4 open, -5 claim, -8 permissions,   FT_DEVICE_NOT_OPENED
//                                -11 kernel driver not detached
//                                other                                FT_IO_ERROR
//   ftdi_set_bitmode,            "USB device unavailable"             FT_DEVICE_NOT_FOUND
//   ftdi_set_latency_timer       other (request refused)              ignored (FT_OK)
//   ftdi_tcioflush               "USB device unavailable"             FT_DEVICE_NOT_FOUND
//                                other                                FT_IO_ERROR
//   reads' memory                not to be had                        FT_INSUFFICIENT_RESOURCES
#include "device/drivers/ftdi_bus.h"

#include <ftdi.h>
#include <libusb.h>

#include <string>
#include <utility>
#include <vector>

#include "device/drivers/ftdi_link.h"

namespace ulvarin {
namespace {

constexpr unsigned char kLatencyMs = 2;  // the chip's 16 ms default throttles small replies

FtdiContext NewContext() {
    return FtdiContext(ftdi_new(), &ftdi_free);
}

// The list ftdi_usb_find_all makes, freed on every path (it may be partial on failure).
struct DeviceList {
    ftdi_device_list* head = nullptr;
    DeviceList() = default;
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    ~DeviceList() {
        if (head) ftdi_list_free(&head);
    }
};

FtStatus FindDevices(ftdi_context* ctx, DeviceList& list) {
    const int found = ftdi_usb_find_all(ctx, &list.head, 0, 0);
    if (found >= 0) return FT_OK;
    return found == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
}

struct DeviceStrings {
    FtStatus status = FT_OK;
    std::string description;
    std::string serial;
};

// Reads the product description (and the serial number when asked) of a device that is
// not open; a missing string reads as empty rather than failing.
DeviceStrings ReadStrings(ftdi_context* ctx, libusb_device* device, bool withSerial) {
    char description[kFtStringSize] = {};
    char serial[kFtStringSize] = {};
    const int rc = ftdi_usb_get_strings(ctx, device, nullptr, 0, description, kFtStringSize,
                                        withSerial ? serial : nullptr, kFtStringSize);
    description[kFtStringSize - 1] = serial[kFtStringSize - 1] = '\0';
    switch (rc) {
        case 0:
            return {FT_OK, description, serial};
        case -9:  // the description came before the serial number failed
            return {FT_OK, description, ""};
        case -7:
        case -8:
            return {FT_OK, "", ""};
        case -4:
            return {FT_DEVICE_NOT_OPENED, "", ""};
        default:
            return {FT_IO_ERROR, "", ""};
    }
}

FtStatus OpenStatus(int rc) {
    switch (rc) {
        case -4:
        case -5:
        case -8:
        case -11:
            return FT_DEVICE_NOT_OPENED;
        default:
            return FT_IO_ERROR;
    }
}

// libftdi's chip types in the numbering of FTDI's own driver.
uint32_t TypeCode(ftdi_chip_type type) {
    switch (type) {
        case TYPE_BM:
            return 0;
        case TYPE_AM:
            return 1;
        case TYPE_2232C:
            return 4;
        case TYPE_R:
            return 5;
        case TYPE_2232H:
            return 6;
        case TYPE_4232H:
            return 7;
        case TYPE_232H:
            return 8;
        case TYPE_230X:
            return 9;
    }
    return 3;  // unknown
}

uint32_t DeviceId(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) < 0) return 0;
    return (uint32_t{descriptor.idVendor} << 16) | descriptor.idProduct;
}

// Plain FIFO/serial mode, a short latency timer, empty buffers.
FtStatus Configure(ftdi_context* ctx) {
    // Timeouts first: the control requests below use the write timeout.
    ctx->usb_read_timeout = kFtdiPollTimeoutMs;
    ctx->usb_write_timeout = static_cast<int>(kUsbDefaultTimeoutMs);
    // The oldest chips refuse the bit-mode and latency requests; plain mode is their
    // power-on state and a fixed latency only costs speed, so only a vanished device
    // fails the open here.
    if (ftdi_set_bitmode(ctx, 0, BITMODE_RESET) == -2) return FT_DEVICE_NOT_FOUND;
    if (ftdi_set_latency_timer(ctx, kLatencyMs) == -3) return FT_DEVICE_NOT_FOUND;
    if (int rc = ftdi_tcioflush(ctx); rc < 0) return rc == -3 ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
    return FT_OK;
}

// Channels of a chip: multi-channel chips list each as "<description> A", "... B" and so
// on; single-channel chips keep their plain description.
int ChannelCount(uint32_t deviceId) {
    switch (deviceId & 0xFFFF) {
        case 0x6010:
            return 2;
        case 0x6011:
            return 4;
        default:
            return 1;
    }
}

// `text` with the channel's letter after `separator`, for chips of more than one channel.
std::string ChannelName(const std::string& text, int channel, int channels,
                        const char* separator = " ") {
    if (channels == 1) return text;
    return text + (text.empty() ? "" : separator) + static_cast<char>('A' + channel);
}

class LibftdiBus final : public UsbBus {
public:
    FtStatus List(std::vector<UsbListing>& devices) override {
        devices.clear();
        FtdiContext ctx = NewContext();
        if (!ctx) return FT_OTHER_ERROR;
        DeviceList list;
        if (FtStatus s = FindDevices(ctx.get(), list); s != FT_OK) return s;
        for (auto* node = list.head; node != nullptr; node = node->next) {
            const DeviceStrings strings = ReadStrings(ctx.get(), node->dev, false);
            const int channels = ChannelCount(DeviceId(node->dev));
            for (int c = 0; c < channels; ++c)
                devices.push_back({ChannelName(strings.description, c, channels), strings.status});
        }
        return FT_OK;
    }

    FtStatus Open(const std::string& description, std::unique_ptr<UsbLink>& link) override {
        link.reset();
        FtdiContext ctx = NewContext();
        if (!ctx) return FT_OTHER_ERROR;
        DeviceList list;
        if (FtStatus s = FindDevices(ctx.get(), list); s != FT_OK) return s;
        // A multi-channel chip named without a channel letter (as listed before channels
        // were told apart) still opens, as its first channel.
        ftdi_device_list* unlettered = nullptr;
        DeviceStrings unletteredStrings;
        for (auto* node = list.head; node != nullptr; node = node->next) {
            // Strings are read before opening: libftdi's string reader closes the device
            // it used, and with it an open one.
            DeviceStrings strings = ReadStrings(ctx.get(), node->dev, true);
            if (strings.status != FT_OK) continue;
            const int channels = ChannelCount(DeviceId(node->dev));
            for (int c = 0; c < channels; ++c)
                if (ChannelName(strings.description, c, channels) == description)
                    return OpenChannel(std::move(ctx), node->dev, c, strings, link);
            if (channels > 1 && !unlettered && strings.description == description) {
                unlettered = node;
                unletteredStrings = std::move(strings);
            }
        }
        if (unlettered)
            return OpenChannel(std::move(ctx), unlettered->dev, 0, unletteredStrings, link);
        return FT_DEVICE_NOT_FOUND;
    }

private:
    // Opens channel `channel` (0 = A) of `device`, whose strings are `strings`.
    static FtStatus OpenChannel(FtdiContext ctx, libusb_device* device, int channel,
                                const DeviceStrings& strings, std::unique_ptr<UsbLink>& link) {
        const uint32_t id = DeviceId(device);
        const int channels = ChannelCount(id);
        UsbIdentity identity{0, id, ChannelName(strings.serial, channel, channels, ""),
                             ChannelName(strings.description, channel, channels)};
        const auto which = static_cast<ftdi_interface>(INTERFACE_A + channel);
        if (ftdi_set_interface(ctx.get(), which) < 0) return FT_DEVICE_NOT_OPENED;
        if (int rc = ftdi_usb_open_dev(ctx.get(), device); rc < 0) return OpenStatus(rc);
        if (FtStatus s = Configure(ctx.get()); s != FT_OK) {
            ftdi_usb_close(ctx.get());
            return s;
        }
        identity.type = TypeCode(ctx->type);
        link = OpenLibftdiLink(std::move(ctx), std::move(identity));
        return link ? FT_OK : FT_INSUFFICIENT_RESOURCES;
    }
};

}  // namespace

std::shared_ptr<UsbBus> MakeLibftdiBus() {
    return std::make_shared<LibftdiBus>();
}

std::shared_ptr<FtDriver> MakeUsbDriver() {
    return MakeUsbDriver(MakeLibftdiBus());
}

}  // namespace ulvarin
