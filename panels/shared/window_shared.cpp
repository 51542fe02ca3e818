#include "panels/shared/window_shared.h"

#include <algorithm>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/report.h"

namespace ulvarin {

std::array<ChipDacRecord, kMaxChips> InitialDacRecords() {
    ChipDacRecord record = DefaultDacRecord(ChipType::Medipix2);
    record.testPulseWord = 0xFF00FF00;
    std::array<ChipDacRecord, kMaxChips> records;
    records.fill(record);
    return records;
}

ChipType WindowShared::Type() const {
    if (!isMxr) return ChipType::Medipix2;
    return isTimepix ? ChipType::Timepix : ChipType::Mxr;
}

std::span<ChipDacRecord> WindowShared::ChipRecords() {
    return {dacRecords.data(), std::min<size_t>(chipCount, kMaxChips)};
}

bool WindowShared::RunTimed(const char* name, const Command& command) {
    const double start = Now();
    device.Clear();
    if (!command(device)) return false;
    ReportError(device, kMessage, "\"%s\" executed in %05lg sec", name, Now() - start);
    return true;
}

bool WindowShared::Send(const Command& command) {
    BeginOperation();
    device.Clear();
    return command(device);
}

bool WindowShared::LoadConfiguration(bool interactive) {
    return configurationLoader ? configurationLoader(interactive) : false;
}

void WindowShared::SaveConfiguration(bool interactive) {
    if (configurationSaver) configurationSaver(interactive);
}

void WindowShared::SendPixelConfig(const char* timedName, bool defaults, const char* offlineText) {
    BeginOperation();
    if (IsOpen()) {
        const auto send = [this, defaults](MpxDevice& handle) {
            return defaults ? SetDefaultMatrix(handle)
                            : SetMatrix(handle, frames.config().data(), frames.pixelsInUse());
        };
        if (timedName != nullptr) {
            RunTimed(timedName, send);
        } else {
            device.Clear();
            send(device);
        }
    } else {
        device.Clear();
        ReportError(device, kMessage, "%s", offlineText);
    }
    ImageChanged();  // the mask views show the words whether or not the chips took them
}

}  // namespace ulvarin
