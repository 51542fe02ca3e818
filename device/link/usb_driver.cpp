// Placeholder until the libftdi1 backend lands: sees no devices.
#include "device/link/usb_driver.h"

namespace ulvarin {
namespace {
class NoUsb : public FtDriver {
public:
    FtStatus CreateDeviceInfoList(uint32_t& c) override { c = 0; return FT_OK; }
    FtStatus GetDeviceInfoDetail(uint32_t, char (&)[kFtStringSize]) override { return FT_DEVICE_NOT_FOUND; }
    FtStatus OpenEx(const char*, FtHandle& h) override { h = nullptr; return FT_DEVICE_NOT_FOUND; }
    FtStatus Purge(FtHandle, uint32_t) override { return FT_INVALID_HANDLE; }
    FtStatus SetTimeouts(FtHandle, uint32_t, uint32_t) override { return FT_INVALID_HANDLE; }
    FtStatus GetDeviceInfo(FtHandle, uint32_t&, uint32_t&, char (&)[kFtStringSize], char (&)[kFtStringSize]) override { return FT_INVALID_HANDLE; }
    FtStatus GetStatus(FtHandle, uint32_t&) override { return FT_INVALID_HANDLE; }
    FtStatus Read(FtHandle, void*, uint32_t, uint32_t& g) override { g = 0; return FT_INVALID_HANDLE; }
    FtStatus Write(FtHandle, const void*, uint32_t, uint32_t& w) override { w = 0; return FT_INVALID_HANDLE; }
    FtStatus Close(FtHandle) override { return FT_INVALID_HANDLE; }
    void WaitForData(FtHandle, double) override {}
};
}  // namespace
std::shared_ptr<FtDriver> MakeUsbDriver() { return std::make_shared<NoUsb>(); }
}  // namespace ulvarin
