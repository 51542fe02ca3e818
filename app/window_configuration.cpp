#include "app/window_configuration.h"

#include <filesystem>

#include "panels/shared/window_shared.h"
#include "config/program_folder.h"
#include "device/report.h"
#include "panels/basic_commands/basic_commands.h"
#include "panels/dac_panel/dac_panel.h"
#include "panels/image/image_panel.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/processes/process_panel.h"
#include "hardware_process/configuration_keys.h"

namespace ulvarin {
namespace {

using config::ConfigKey;
using config::Configuration;

const char* kIniFilter = "ASCII ini file|*.ini|All files|*.*";

}  // namespace

WindowConfiguration::WindowConfiguration(const ConfiguredGroups& groups) : form_(groups) {}

void WindowConfiguration::Install() {
    form_.shared.configurationLoader = [this](bool interactive) { return Load(interactive); };
    form_.shared.configurationSaver = [this](bool interactive) { Save(interactive); };
    // The file dialogs open in the folders chosen last, also after a restart.
    form_.shared.dialogs().KeepFoldersIn(ConfigFolder() + "/file_folders.txt");
}

std::string WindowConfiguration::DefaultPath() const {
    const DeviceDescr* device = form_.shared.device.device;
    if (device == nullptr) return {};
    return ConfigFolder() + "/" +
           config::DefaultConfigFileName(
               device->description, static_cast<int>(form_.shared.chipCount), device->chipIdText);
}

void WindowConfiguration::Report(int kind, const std::string& text) {
    form_.shared.device.Clear();
    ReportError(form_.shared.device, static_cast<int8_t>(kind), "%s", text.c_str());
}

Configuration WindowConfiguration::Gather(bool readProcess) {
    WindowShared& shared = form_.shared;
    Configuration c;
    c.polarity = form_.basics.PolarityText();
    c.fsr = form_.basics.ModeItem();
    c.chips = static_cast<int>(shared.chipCount);
    std::copy(shared.dacRecords.begin(), shared.dacRecords.end(), c.records.begin());
    const InterfaceAnalog& analog = form_.analog.analog;
    c.biasVolts = analog.biasVolts;
    c.dac0Volts = analog.dac0Volts;
    c.dac1Volts = analog.dac1Volts;
    if (readProcess) form_.processes.ReadProcessSettings(process::kAllSources, false);
    const process::ProcessSettings& s = form_.processes.Settings();
    c.actionSet = s.actionSet;
    c.frames = s.frames;
    c.period = s.period;
    c.interval = s.interval;
    c.triggerItem = form_.processes.TriggerItem();
    c.counter = s.counter;
    c.actionCommand1 = s.actionCommand1;
    c.actionCommand2 = s.actionCommand2;
    c.monitor = form_.analog.Monitoring();
    c.scopeMask = analog.scopeChannelMask;
    c.scopeSamples = static_cast<int>(analog.scopeSampleCount);
    c.integrating = form_.image.Integrating();
    c.rangeMin = form_.image.ViewRange().min;
    c.rangeMax = form_.image.ViewRange().max;
    c.rangeAuto = form_.image.RangeAuto();
    return c;
}

void WindowConfiguration::Save(bool interactive) {
    WindowShared& shared = form_.shared;
    if (!shared.IsOpen()) return;
    std::error_code ignored;  // a folder that cannot be made shows as a failed open
    std::filesystem::create_directories(ConfigFolder(), ignored);
    std::string path = DefaultPath();
    if (interactive) {
        const std::optional<std::string> chosen =
            shared.dialogs().SaveFile({.title = "Save configuration to ...",
                                       .filter = kIniFilter,
                                       .initialName = path,
                                       .defaultExtension = "ini",
                                       .overwritePrompt = true,
                                       .kind = FileKind::Configurations});
        if (!chosen) return;
        path = *chosen;
    }
    const config::SaveStatus status = config::WriteConfiguration(path, Gather(true));
    if (status != config::SaveStatus::kOk) {
        shared.dialogs().Error(config::SaveFailureBoxText(status), config::kSaveErrorCaption);
        if (status == config::SaveStatus::kWriteFailed && reporting)
            Report(kGeneralError, config::kSaveFailedReport);
        return;
    }
    if (reporting) Report(kMessage, config::kSavedReport);
}

bool WindowConfiguration::Load(bool interactive) {
    WindowShared& shared = form_.shared;
    if (!shared.IsOpen()) return false;
    std::string path = DefaultPath();
    if (interactive) {
        const std::optional<std::string> chosen =
            shared.dialogs().OpenFile({.title = "Load configuration from ...",
                                       .filter = kIniFilter,
                                       .initialName = path,
                                       .defaultExtension = "ini",
                                       .mustExist = true,
                                       .kind = FileKind::Configurations});
        if (!chosen) return false;
        path = *chosen;
    }
    Configuration c = Gather(false);
    const config::LoadOutcome outcome = config::ReadConfiguration(path, c, *this);
    if (!outcome.boxText.empty())
        shared.dialogs().Error(outcome.boxText, config::kLoadErrorCaption);
    Report(outcome.ok() ? kMessage : kGeneralError, outcome.reportText);
    return outcome.ok();
}

bool WindowConfiguration::Continue(const std::string& question) {
    return form_.shared.dialogs().Message({question, config::kQuestionCaption, DialogIcon::Warning,
                                           DialogButtons::OkCancel}) == DialogAnswer::Ok;
}

// The shared table says what a key sends and stores; the window shows it first.
void WindowConfiguration::Apply(ConfigKey key, const Configuration& c) {
    switch (process::RoleOf(key)) {
        case process::KeyRole::kInterface:
            ApplyInterfaceKey(key, c);
            break;
        case process::KeyRole::kProcess:
            process::StoreProcessKey(key, c, form_.processes.Settings());
            ShowProcessKey(key, c);
            break;
        case process::KeyRole::kDisplay:
            ApplyDisplayKey(key, c);
            break;
    }
}

// Polarity and mode begin an operation of their own, as the operator's choice does; on
// Timepix the mode goes out as the pixel words, which are an operation of their own too and
// change the mask views. What a key sends is shown by the group that shows it, through the
// same notice as the tester's and the terminal's settings.
void WindowConfiguration::ApplyInterfaceKey(ConfigKey key, const Configuration& c) {
    WindowShared& shared = form_.shared;
    const bool modeWords = key == ConfigKey::Fsr && shared.isTimepix;
    SentSettings shown;
    switch (key) {
        case ConfigKey::Polarity:
            shown.negativePolarity = c.polarity == "Negative";
            shared.SettingsSent(shown);
            shared.BeginOperation();
            break;
        case ConfigKey::Fsr:
            if (!form_.basics.ShowMode(c.fsr) || c.fsr < 0) return;
            shared.BeginOperation();
            if (modeWords) shared.BeginOperation();
            break;
        case ConfigKey::ChipRecords:
            std::copy(c.records.begin(), c.records.end(), shared.dacRecords.begin());
            shown.chipDacs = true;
            shared.SettingsSent(shown);
            break;
        case ConfigKey::Bias:
            shown.biasVolts = c.biasVolts;
            shared.SettingsSent(shown);
            break;
        case ConfigKey::Dac0:
        case ConfigKey::Dac1:
            shown.interfaceDacVolts[key == ConfigKey::Dac0 ? 0 : 1] =
                key == ConfigKey::Dac0 ? c.dac0Volts : c.dac1Volts;
            shared.SettingsSent(shown);
            break;
        default:
            break;
    }
    shared.device.Clear();
    process::SendConfigKey(key, c, shared.device,
                           {shared.frames.config().data(), shared.frames.pixelsInUse()});
    if (modeWords) shared.ImageChanged();
}

// Process settings are stored and shown, never sent: they go out with the next start. The
// trigger's On/Off item lives in its selector.
void WindowConfiguration::ShowProcessKey(ConfigKey key, const Configuration& c) {
    if (key == ConfigKey::Manual) return;
    if (key == ConfigKey::Trigger) {
        form_.processes.SetTriggerItem(c.triggerItem);
        return;
    }
    form_.processes.ShowSettings();
}

void WindowConfiguration::ApplyDisplayKey(ConfigKey key, const Configuration& c) {
    switch (key) {
        case ConfigKey::Monitor:
            form_.analog.SetMonitoring(c.monitor);
            break;
        case ConfigKey::Scope:
            form_.analog.ApplyScope(c.scopeMask, c.scopeSamples);
            break;
        case ConfigKey::Integral:
            form_.image.SetIntegrating(c.integrating);
            break;
        case ConfigKey::ViewRange:
            form_.image.ApplyViewRange(c.rangeMin, c.rangeMax, c.rangeAuto);
            break;
        default:
            break;
    }
}

}  // namespace ulvarin
