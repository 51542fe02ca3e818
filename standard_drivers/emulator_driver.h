// Emulated interfaces behind the driver seam, backed by the firmware model in sim/.
// The program uses them on any machine without hardware; tests use them for integration.
// Each interface's output reaches the host through a link model that can be slowed down
// and made to fail. The interfaces run on the wall clock: every driver call first brings
// the interface up to now (firing due process events), and waiting calls wake when the
// next event is due.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/drivers/ft_driver.h"
#include "sim/emulated_interface.h"
#include "sim/link_model.h"

namespace ulvarin {

class EmulatorDriver : public FtDriver {
public:
    // One emulated interface per configuration, listed in this order. Each gets the
    // description "Medipix2 ver 3.0 : Emulator <family> x<chips>" (" #2", " #3"... added
    // to repeats, so every description opens exactly one interface) and the serial
    // "EMU0001", "EMU0002", ...
    explicit EmulatorDriver(std::vector<sim::InterfaceConfig> configs);
    ~EmulatorDriver() override;

    // Lists the plugged interfaces.
    FtStatus CreateDeviceInfoList(uint32_t& count) override;
    FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) override;
    // One handle per interface at a time: a second open gets FT_DEVICE_NOT_OPENED until
    // the first handle is closed.
    FtStatus OpenEx(const char* description, FtHandle& handle) override;
    // The receive side drops the bytes readable now; the transmit side has nothing to drop
    // (writes reach the interface at once).
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                           char (&serial)[kFtStringSize],
                           char (&description)[kFtStringSize]) override;
    // The exact number of bytes readable now.
    FtStatus GetStatus(FtHandle handle, uint32_t& rxQueue) override;
    // Waits up to the read timeout (1000 ms until SetTimeouts) for `wanted` bytes and
    // returns what arrived by then (FT_OK even when short).
    FtStatus Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) override;
    // Hands the bytes to the interface at once. A write fault armed on the link
    // (LinkModel::CutNextWrite) lets only its first bytes through: `written` tells how many,
    // and the status is FT_IO_ERROR or FT_OK as the fault says.
    FtStatus Write(FtHandle handle, const void* bytes, uint32_t length, uint32_t& written) override;
    // Invalidates the handle: every later call with it gets FT_INVALID_HANDLE.
    FtStatus Close(FtHandle handle) override;
    void WaitForData(FtHandle handle, double seconds) override;

    // --- test access ----------------------------------------------------------------------
    // Handle calls on an unplugged interface fail with FT_IO_ERROR (Close still succeeds).

    size_t InterfaceCount() const;
    std::string Description(size_t index) const;
    // Index of the interface with this description, or nullopt.
    std::optional<size_t> FindInterface(std::string_view description) const;
    // Runs `action` on interface `index` under the driver's lock, so it is safe while
    // another thread talks to the interface.
    void WithInterface(size_t index, const std::function<void(sim::EmulatedInterface&)>& action);
    // Runs `action` on the link of interface `index` under the driver's lock, after
    // carrying everything the interface has sent so far onto it: faults armed there hit
    // the next message the interface sends from now on, and a write fault the host's next
    // write.
    void WithLink(size_t index, const std::function<void(sim::LinkModel&)>& action);
    // Unplugging hides the interface from the list and kills its open handle for good.
    // Plugging it back in powers it up afresh, from its configuration, with a fresh link
    // (its timing is kept).
    void SetPlugged(size_t index, bool plugged);

private:
    struct Device;
    struct OpenHandle;
    using Lock = std::unique_lock<std::mutex>;

    // The open handle behind `handle`, or nullptr when it is not one of ours or closed.
    OpenHandle* Find(FtHandle handle) const;
    // Checks a handle for I/O: FT_INVALID_HANDLE, FT_IO_ERROR (unplugged) or FT_OK with
    // `device` set.
    FtStatus Usable(FtHandle handle, Device*& device) const;
    // Brings `device` up to `now`: fires its due events and carries its output onto the link.
    static void Sync(Device& device, sim::Clock::time_point now);
    // When anything next changes for the host on `device`, or `otherwise`.
    static sim::Clock::time_point NextChange(Device& device, sim::Clock::time_point now,
                                             sim::Clock::time_point otherwise);

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // bytes written, handle closed, interface unplugged
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<size_t> listed_;  // device indexes of the last CreateDeviceInfoList
    // Handles are never freed before the driver, so a stale handle can never alias a new one.
    std::vector<std::unique_ptr<OpenHandle>> handles_;
};

// The emulated set named by `set`: comma-separated "family:chips" entries
// ("timepix:4,mxr:2,medipix2:1"; family names ignore case; ":chips" defaults to 1; chips
// 1..4). Entries that do not parse are skipped. Empty or all-blank text gives the default
// set (a Timepix quad, an MXR double, a Medipix2 single); "off" gives nullptr.
std::shared_ptr<EmulatorDriver> MakeEmulatorDriver(std::string_view set);

// The configurations `set` names, as MakeEmulatorDriver reads it; nullopt for "off".
std::optional<std::vector<sim::InterfaceConfig>> ParseEmulatorSet(std::string_view set);
// The entries of `set` that name no emulated interface (and so are skipped), for a warning.
std::vector<std::string> BadEmulatorEntries(std::string_view set);

}  // namespace ulvarin
