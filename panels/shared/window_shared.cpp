#include "panels/shared/window_shared.h"

#include <QWidget>
#include <algorithm>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/conversions.h"
#include "device/report.h"
#include "wire/command_table.h"

namespace ulvarin {

void TearDownControls(QWidget* group) {
    for (QObject* child : group->findChildren<QObject*>()) child->blockSignals(true);
    qDeleteAll(group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

std::array<ChipDacRecord, kMaxChips> InitialDacRecords() {
    ChipDacRecord record = DefaultDacRecord(ChipType::Medipix2);
    record.testPulseWord = 0xFF00FF00;
    std::array<ChipDacRecord, kMaxChips> records;
    records.fill(record);
    return records;
}

bool SentSettings::Empty() const {
    return !biasVolts && !interfaceDacVolts[0] && !interfaceDacVolts[1] && !negativePolarity &&
           !fsr && !scope && !chipDacs;
}

SentSettings SentSettings::BiasCode(uint8_t code) {
    SentSettings settings;
    settings.biasVolts = code == 0 ? 0.0 : CodeToBias(code);
    return settings;
}

SentSettings SentSettings::InterfaceDacCode(int channel, uint16_t code) {
    SentSettings settings;
    if (channel == 0 || channel == 1)
        settings.interfaceDacVolts[static_cast<size_t>(channel)] = DacCodeToVolts(code);
    return settings;
}

SentSettings SettingsInCommandBytes(std::span<const uint8_t> bytes) {
    SentSettings settings;
    size_t at = 0;
    while (at < bytes.size()) {
        const uint8_t letter = bytes[at];
        const CommandDescr* command = FindCommand(letter);
        // "Set Medipix DACs" takes its bytes per chip, "Set matrix" a whole stream.
        if (command == nullptr || letter == 'd' || command->commandBytes < 0) break;
        const size_t count = static_cast<size_t>(command->commandBytes);
        if (bytes.size() - at - 1 < count) break;
        const std::span<const uint8_t> p = bytes.subspan(at + 1, count);
        switch (letter) {
            case 'b':
                settings.biasVolts = SentSettings::BiasCode(p[0]).biasVolts;
                break;
            case 'B':
                settings.biasVolts = 0.0;
                break;
            case '>':
                if (p[0] < 2)
                    settings.interfaceDacVolts[p[0]] =
                        SentSettings::InterfaceDacCode(p[0],
                                                       static_cast<uint16_t>(p[1] | p[2] << 8))
                            .interfaceDacVolts[p[0]];
                break;
            case 'p':
            case 'P':
                settings.negativePolarity = letter == 'p';
                break;
            case '0':
            case '1':
                settings.fsr = letter - '0';
                break;
            case 'A':
                settings.scope = ScopeSetup{p[0], static_cast<uint16_t>(p[1] | p[2] << 8), p[3]};
                break;
            default:
                break;
        }
        at += 1 + count;
    }
    return settings;
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

void WindowShared::SettingsSent(const SentSettings& settings) {
    if (!settings.Empty()) emit interfaceSettingsSent(settings);
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
