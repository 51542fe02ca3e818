#include "standard_drivers/emulator_driver.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "wire/stream_layout.h"

namespace ulvarin {

using sim::Clock;

struct EmulatorDriver::Device {
    sim::InterfaceConfig config;
    std::unique_ptr<sim::EmulatedInterface> emulator;
    sim::LinkModel link;
    std::string description;
    std::string serial;
    bool plugged = true;
    OpenHandle* openBy = nullptr;
};

struct EmulatorDriver::OpenHandle {
    Device* device;
    uint32_t readTimeoutMs = 1000;
    bool closed = false;
    bool dead = false;  // its interface was unplugged
};

namespace {

// What the interfaces report as USB chip type and vendor/product id.
constexpr uint32_t kDeviceType = 5;
constexpr uint32_t kDeviceId = 0x04036001;

void CopyString(const std::string& text, char (&out)[kFtStringSize]) {
    const size_t n = std::min(text.size(), static_cast<size_t>(kFtStringSize - 1));
    std::memcpy(out, text.data(), n);
    std::memset(out + n, 0, kFtStringSize - n);
}

std::string BaseDescription(const sim::InterfaceConfig& config) {
    return "Medipix2 ver 3.0 : Emulator " + std::string(sim::FamilyName(config.family)) + " x" +
           std::to_string(config.chipCount);
}

std::string SerialNumber(size_t index) {
    char text[16];
    std::snprintf(text, sizeof text, "EMU%04zu", index + 1);
    return text;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool IsOff(std::string_view text) {
    return text.size() == 3 && std::tolower(static_cast<unsigned char>(text[0])) == 'o' &&
           std::tolower(static_cast<unsigned char>(text[1])) == 'f' &&
           std::tolower(static_cast<unsigned char>(text[2])) == 'f';
}

// "family" or "family:chips"; nullopt when either part is not understood.
std::optional<sim::InterfaceConfig> ParseEntry(std::string_view entry) {
    const size_t colon = entry.find(':');
    const auto family = sim::ParseFamily(Trim(entry.substr(0, colon)));
    if (!family) return std::nullopt;
    int chips = 1;
    if (colon != std::string_view::npos) {
        const std::string_view number = Trim(entry.substr(colon + 1));
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), chips);
        if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    }
    if (chips < 1 || chips > kMaxChips) return std::nullopt;
    return sim::MakeInterfaceConfig(*family, chips);
}

}  // namespace

std::optional<std::vector<sim::InterfaceConfig>> ParseEmulatorSet(std::string_view set) {
    set = Trim(set);
    if (IsOff(set)) return std::nullopt;
    if (set.empty()) set = "timepix:4,mxr:2,medipix2:1";
    std::vector<sim::InterfaceConfig> configs;
    while (!set.empty()) {
        const size_t comma = set.find(',');
        if (auto config = ParseEntry(Trim(set.substr(0, comma)))) configs.push_back(*config);
        set = comma == std::string_view::npos ? std::string_view{} : set.substr(comma + 1);
    }
    return configs;
}

std::vector<std::string> BadEmulatorEntries(std::string_view set) {
    std::vector<std::string> bad;
    set = Trim(set);
    if (IsOff(set)) return bad;
    while (!set.empty()) {
        const size_t comma = set.find(',');
        const std::string_view entry = Trim(set.substr(0, comma));
        if (!entry.empty() && !ParseEntry(entry)) bad.emplace_back(entry);
        set = comma == std::string_view::npos ? std::string_view{} : set.substr(comma + 1);
    }
    return bad;
}

std::shared_ptr<EmulatorDriver> MakeEmulatorDriver(std::string_view set) {
    auto configs = ParseEmulatorSet(set);
    if (!configs) return nullptr;
    return std::make_shared<EmulatorDriver>(std::move(*configs));
}

EmulatorDriver::EmulatorDriver(std::vector<sim::InterfaceConfig> configs) {
    const auto now = Clock::now();
    for (auto& config : configs) {
        auto device = std::make_unique<Device>();
        const std::string base = BaseDescription(config);
        const auto repeats = std::count_if(devices_.begin(), devices_.end(), [&](const auto& d) {
            return d->description.starts_with(base);
        });
        device->description = repeats == 0 ? base : base + " #" + std::to_string(repeats + 1);
        device->serial = SerialNumber(devices_.size());
        device->emulator = std::make_unique<sim::EmulatedInterface>(config, now);
        device->config = std::move(config);
        listed_.push_back(devices_.size());
        devices_.push_back(std::move(device));
    }
}

EmulatorDriver::~EmulatorDriver() = default;

EmulatorDriver::OpenHandle* EmulatorDriver::Find(FtHandle handle) const {
    for (const auto& h : handles_)
        if (h.get() == handle) return h->closed ? nullptr : h.get();
    return nullptr;
}

FtStatus EmulatorDriver::Usable(FtHandle handle, Device*& device) const {
    const OpenHandle* h = Find(handle);
    if (h == nullptr) return FT_INVALID_HANDLE;
    if (h->dead) return FT_IO_ERROR;
    device = h->device;
    return FT_OK;
}

void EmulatorDriver::Sync(Device& device, Clock::time_point now) {
    device.emulator->Advance(now, device.link.Received().Size());
    device.link.Pump(device.emulator->Output(), now);
}

Clock::time_point EmulatorDriver::NextChange(Device& device, Clock::time_point now,
                                             Clock::time_point otherwise) {
    Clock::time_point next = otherwise;
    const size_t backlog = device.link.Received().Size();
    for (const auto& at : {device.link.Received().NextArrival(now),
                           device.emulator->NextEventTime(now, backlog)})
        if (at) next = std::min(next, *at);
    return next;
}

FtStatus EmulatorDriver::CreateDeviceInfoList(uint32_t& count) {
    Lock lock(mutex_);
    listed_.clear();
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->plugged) listed_.push_back(i);
    count = static_cast<uint32_t>(listed_.size());
    return FT_OK;
}

FtStatus EmulatorDriver::GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) {
    Lock lock(mutex_);
    if (index >= listed_.size()) return FT_DEVICE_NOT_FOUND;
    CopyString(devices_[listed_[index]]->description, description);
    return FT_OK;
}

FtStatus EmulatorDriver::OpenEx(const char* description, FtHandle& handle) {
    Lock lock(mutex_);
    handle = nullptr;
    if (description == nullptr) return FT_INVALID_PARAMETER;
    for (auto& device : devices_) {
        if (!device->plugged || device->description != description) continue;
        if (device->openBy != nullptr) return FT_DEVICE_NOT_OPENED;
        handles_.push_back(std::make_unique<OpenHandle>(OpenHandle{device.get()}));
        device->openBy = handles_.back().get();
        handle = device->openBy;
        return FT_OK;
    }
    return FT_DEVICE_NOT_FOUND;
}

FtStatus EmulatorDriver::Purge(FtHandle handle, uint32_t mask) {
    Lock lock(mutex_);
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    const auto now = Clock::now();
    Sync(*device, now);
    if (mask & FT_PURGE_RX) device->link.Received().DropAvailable(now);
    return FT_OK;
}

FtStatus EmulatorDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t) {
    Lock lock(mutex_);
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    Find(handle)->readTimeoutMs = readMs;
    return FT_OK;
}

FtStatus EmulatorDriver::GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                                       char (&serial)[kFtStringSize],
                                       char (&description)[kFtStringSize]) {
    Lock lock(mutex_);
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    type = kDeviceType;
    id = kDeviceId;
    CopyString(device->serial, serial);
    CopyString(device->description, description);
    return FT_OK;
}

FtStatus EmulatorDriver::GetStatus(FtHandle handle, uint32_t& rxQueue) {
    Lock lock(mutex_);
    rxQueue = 0;
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    const auto now = Clock::now();
    Sync(*device, now);
    rxQueue = static_cast<uint32_t>(device->link.Received().Available(now));
    return FT_OK;
}

FtStatus EmulatorDriver::Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) {
    Lock lock(mutex_);
    got = 0;
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Find(handle)->readTimeoutMs);
    for (;;) {
        const auto now = Clock::now();
        Sync(*device, now);
        if (device->link.Received().Available(now) >= wanted || now >= deadline) break;
        changed_.wait_until(lock, NextChange(*device, now, deadline));
        if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    }
    got = static_cast<uint32_t>(
        device->link.Received().Take(static_cast<uint8_t*>(buffer), wanted, Clock::now()));
    return FT_OK;
}

FtStatus EmulatorDriver::Write(FtHandle handle, const void* bytes, uint32_t length,
                               uint32_t& written) {
    Lock lock(mutex_);
    written = 0;
    Device* device = nullptr;
    if (FtStatus s = Usable(handle, device); s != FT_OK) return s;
    if (bytes == nullptr && length > 0) return FT_INVALID_PARAMETER;
    const auto now = Clock::now();
    Sync(*device, now);
    uint32_t accepted = length;
    FtStatus status = FT_OK;
    if (const auto fault = device->link.TakeWriteFault()) {
        accepted = static_cast<uint32_t>(std::min<size_t>(fault->accept, length));
        if (fault->failed) status = FT_IO_ERROR;
    }
    device->emulator->Receive(std::span(static_cast<const uint8_t*>(bytes), accepted), now,
                              device->link.Received().Size());
    device->link.Pump(device->emulator->Output(), now);
    written = accepted;
    changed_.notify_all();
    return status;
}

FtStatus EmulatorDriver::Close(FtHandle handle) {
    Lock lock(mutex_);
    OpenHandle* h = Find(handle);
    if (h == nullptr) return FT_INVALID_HANDLE;
    h->closed = true;
    if (h->device->openBy == h) h->device->openBy = nullptr;
    changed_.notify_all();
    return FT_OK;
}

void EmulatorDriver::WaitForData(FtHandle handle, double seconds) {
    Lock lock(mutex_);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(std::max(seconds, 0.0)));
    Device* device = nullptr;
    while (Usable(handle, device) == FT_OK) {
        const auto now = Clock::now();
        Sync(*device, now);
        if (device->link.Received().Available(now) > 0 || now >= deadline) return;
        changed_.wait_until(lock, NextChange(*device, now, deadline));
    }
}

size_t EmulatorDriver::InterfaceCount() const {
    Lock lock(mutex_);
    return devices_.size();
}

std::string EmulatorDriver::Description(size_t index) const {
    Lock lock(mutex_);
    return devices_.at(index)->description;
}

std::optional<size_t> EmulatorDriver::FindInterface(std::string_view description) const {
    Lock lock(mutex_);
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->description == description) return i;
    return std::nullopt;
}

void EmulatorDriver::WithInterface(size_t index,
                                   const std::function<void(sim::EmulatedInterface&)>& action) {
    Lock lock(mutex_);
    action(*devices_.at(index)->emulator);
    changed_.notify_all();
}

void EmulatorDriver::WithLink(size_t index, const std::function<void(sim::LinkModel&)>& action) {
    Lock lock(mutex_);
    Device& device = *devices_.at(index);
    Sync(device, Clock::now());
    action(device.link);
    changed_.notify_all();
}

void EmulatorDriver::SetPlugged(size_t index, bool plugged) {
    Lock lock(mutex_);
    Device& device = *devices_.at(index);
    if (device.plugged == plugged) return;
    device.plugged = plugged;
    device.link.Reset();
    if (plugged) {
        device.emulator = std::make_unique<sim::EmulatedInterface>(device.config, Clock::now());
    } else if (device.openBy != nullptr) {
        device.openBy->dead = true;
        device.openBy = nullptr;
    }
    changed_.notify_all();
}

}  // namespace ulvarin
