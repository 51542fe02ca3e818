// A driver that joins several drivers into one device list, in the order given
// (real USB devices first, then emulated ones), and routes each open handle to the
// driver that opened it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "device/drivers/ft_driver.h"

namespace ulvarin {

class CompositeDriver : public FtDriver {
public:
    explicit CompositeDriver(std::vector<std::shared_ptr<FtDriver>> drivers);

    FtStatus CreateDeviceInfoList(uint32_t& count) override;
    FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) override;
    FtStatus OpenEx(const char* description, FtHandle& handle) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                           char (&serial)[kFtStringSize],
                           char (&description)[kFtStringSize]) override;
    FtStatus GetStatus(FtHandle handle, uint32_t& rxQueue) override;
    FtStatus Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) override;
    FtStatus Write(FtHandle handle, const void* bytes, uint32_t length,
                   uint32_t& written) override;
    FtStatus Close(FtHandle handle) override;
    void WaitForData(FtHandle handle, double seconds) override;

private:
    FtDriver* Owner(FtHandle handle);

    std::vector<std::shared_ptr<FtDriver>> drivers_;
    std::mutex mutex_;
    // Per driver, how many devices its last CreateDeviceInfoList found.
    std::vector<uint32_t> listed_;
    std::map<FtHandle, FtDriver*> owners_;
};

}  // namespace ulvarin
