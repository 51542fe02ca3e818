#include "device/drivers/composite_driver.h"

namespace ulvarin {

CompositeDriver::CompositeDriver(std::vector<std::shared_ptr<FtDriver>> drivers)
    : drivers_(std::move(drivers)), listed_(drivers_.size(), 0) {}

FtStatus CompositeDriver::CreateDeviceInfoList(uint32_t& count) {
    std::lock_guard lock(mutex_);
    count = 0;
    FtStatus firstError = FT_OK;
    for (size_t b = 0; b < drivers_.size(); ++b) {
        uint32_t n = 0;
        FtStatus s = drivers_[b]->CreateDeviceInfoList(n);
        // A driver that fails (no USB access, say) must not hide the others' devices.
        if (s != FT_OK) {
            if (firstError == FT_OK) firstError = s;
            n = 0;
        }
        listed_[b] = n;
        count += n;
    }
    return count == 0 ? firstError : FT_OK;
}

FtStatus CompositeDriver::GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) {
    std::lock_guard lock(mutex_);
    for (size_t b = 0; b < drivers_.size(); ++b) {
        if (index < listed_[b]) return drivers_[b]->GetDeviceInfoDetail(index, description);
        index -= listed_[b];
    }
    return FT_DEVICE_NOT_FOUND;
}

FtStatus CompositeDriver::OpenEx(const char* description, FtHandle& handle) {
    FtStatus last = FT_DEVICE_NOT_FOUND;
    for (auto& driver : drivers_) {
        FtHandle h = nullptr;
        FtStatus s = driver->OpenEx(description, h);
        if (s == FT_OK && h != nullptr) {
            std::lock_guard lock(mutex_);
            owners_[h] = driver.get();
            handle = h;
            return FT_OK;
        }
        // Keep the most telling failure: "not found" only when no driver knew the name.
        if (s != FT_DEVICE_NOT_FOUND) last = s;
    }
    handle = nullptr;
    return last;
}

FtDriver* CompositeDriver::Owner(FtHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = owners_.find(handle);
    return it == owners_.end() ? nullptr : it->second;
}

FtStatus CompositeDriver::Purge(FtHandle handle, uint32_t mask) {
    FtDriver* d = Owner(handle);
    return d ? d->Purge(handle, mask) : FT_INVALID_HANDLE;
}

FtStatus CompositeDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
    FtDriver* d = Owner(handle);
    return d ? d->SetTimeouts(handle, readMs, writeMs) : FT_INVALID_HANDLE;
}

FtStatus CompositeDriver::GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                                        char (&serial)[kFtStringSize],
                                        char (&description)[kFtStringSize]) {
    FtDriver* d = Owner(handle);
    return d ? d->GetDeviceInfo(handle, type, id, serial, description) : FT_INVALID_HANDLE;
}

FtStatus CompositeDriver::GetStatus(FtHandle handle, uint32_t& rxQueue) {
    FtDriver* d = Owner(handle);
    return d ? d->GetStatus(handle, rxQueue) : FT_INVALID_HANDLE;
}

FtStatus CompositeDriver::Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) {
    FtDriver* d = Owner(handle);
    if (!d) {
        got = 0;
        return FT_INVALID_HANDLE;
    }
    return d->Read(handle, buffer, wanted, got);
}

FtStatus CompositeDriver::Write(FtHandle handle, const void* bytes, uint32_t length,
                                uint32_t& written) {
    FtDriver* d = Owner(handle);
    if (!d) {
        written = 0;
        return FT_INVALID_HANDLE;
    }
    return d->Write(handle, bytes, length, written);
}

FtStatus CompositeDriver::Close(FtHandle handle) {
    FtDriver* d = Owner(handle);
    if (!d) return FT_INVALID_HANDLE;
    FtStatus s = d->Close(handle);
    std::lock_guard lock(mutex_);
    owners_.erase(handle);
    return s;
}

void CompositeDriver::WaitForData(FtHandle handle, double seconds) {
    if (FtDriver* d = Owner(handle)) d->WaitForData(handle, seconds);
}

}  // namespace ulvarin
