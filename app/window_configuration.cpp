#include "app/window_configuration.h"

#include <filesystem>

#include "app/form_ulvarin.h"
#include "config/program_folder.h"
#include "device/chip_commands.h"
#include "device/report.h"
#include "panels/basic_commands/basic_commands.h"
#include "panels/dac_panel/dac_panel.h"
#include "panels/image/image_panel.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/processes/process_panel.h"

namespace ulvarin {
namespace {

using config::ConfigKey;
using config::Configuration;

const char* kIniFilter = "ASCII ini file|*.ini|All files|*.*";

}  // namespace

WindowConfiguration::WindowConfiguration(TFormUlvarin& form) : form_(form) {}

void WindowConfiguration::Install() {
    form_.shared.configurationLoader = [this](bool interactive) { return Load(interactive); };
    form_.shared.configurationSaver = [this](bool interactive) { Save(interactive); };
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
    c.polarity = form_.basics->PolarityText();
    c.fsr = form_.basics->ModeItem();
    c.chips = static_cast<int>(shared.chipCount);
    std::copy(shared.dacRecords.begin(), shared.dacRecords.end(), c.records.begin());
    const InterfaceAnalog& analog = form_.analog->analog;
    c.biasVolts = analog.biasVolts;
    c.dac0Volts = analog.dac0Volts;
    c.dac1Volts = analog.dac1Volts;
    if (readProcess) form_.processes->ReadProcessSettings(process::kAllSources, false);
    const process::ProcessSettings& s = form_.processes->Settings();
    c.actionSet = s.actionSet;
    c.frames = s.frames;
    c.period = s.period;
    c.interval = s.interval;
    c.triggerItem = form_.processes->TriggerItem();
    c.counter = s.counter;
    c.actionCommand1 = s.actionCommand1;
    c.actionCommand2 = s.actionCommand2;
    c.monitor = form_.analog->Monitoring();
    c.scopeMask = analog.scopeChannelMask;
    c.scopeSamples = static_cast<int>(analog.scopeSampleCount);
    c.integrating = form_.image->Integrating();
    c.rangeMin = form_.image->ViewRange().min;
    c.rangeMax = form_.image->ViewRange().max;
    c.rangeAuto = form_.image->RangeAuto();
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
                                       .overwritePrompt = true});
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
                                       .mustExist = true});
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

void WindowConfiguration::Apply(ConfigKey key, const Configuration& c) {
    WindowShared& shared = form_.shared;
    switch (key) {
        case ConfigKey::Polarity:
            form_.basics->ApplyPolarity(c.polarity == "Negative");
            break;
        case ConfigKey::Fsr:
            form_.basics->ChooseMode(c.fsr);
            break;
        case ConfigKey::ChipRecords:
            std::copy(c.records.begin(), c.records.end(), shared.dacRecords.begin());
            form_.dacPanel->ComboChipSelect();
            shared.device.Clear();
            SetChipDacs(shared.device, shared.dacRecords.data(), 0);
            break;
        case ConfigKey::Bias:
            form_.analog->ApplyBias(c.biasVolts);
            break;
        case ConfigKey::Dac0:
            form_.analog->ApplyInterfaceDac(0, c.dac0Volts);
            break;
        case ConfigKey::Dac1:
            form_.analog->ApplyInterfaceDac(1, c.dac1Volts);
            break;
        case ConfigKey::Monitor:
            form_.analog->SetMonitoring(c.monitor);
            break;
        case ConfigKey::Scope:
            form_.analog->ApplyScope(c.scopeMask, c.scopeSamples);
            break;
        case ConfigKey::Integral:
            form_.image->SetIntegrating(c.integrating);
            break;
        case ConfigKey::ViewRange:
            form_.image->ApplyViewRange(c.rangeMin, c.rangeMax, c.rangeAuto);
            break;
        default:
            ApplyProcessKey(key, c);
            break;
    }
}

// Process settings are stored and shown, never sent: they go out with the next start.
void WindowConfiguration::ApplyProcessKey(ConfigKey key, const Configuration& c) {
    process::ProcessSettings& s = form_.processes->Settings();
    switch (key) {
        case ConfigKey::Manual:
            s.actionSet[process::kManual] = c.actionSet[process::kManual];
            return;
        case ConfigKey::Frames:
            s.frames = c.frames;
            s.actionSet[process::kFrames] = c.actionSet[process::kFrames];
            break;
        case ConfigKey::Period:
            s.period = c.period;
            s.actionSet[process::kPeriod] = c.actionSet[process::kPeriod];
            break;
        case ConfigKey::Interval:
            s.interval = c.interval;
            s.actionSet[process::kInterval] = c.actionSet[process::kInterval];
            break;
        case ConfigKey::Trigger:
            form_.processes->SetTriggerItem(c.triggerItem);
            s.actionSet[process::kTrigger] = c.actionSet[process::kTrigger];
            return;
        case ConfigKey::Counter:
            s.counter = c.counter;
            s.actionSet[process::kCounter] = c.actionSet[process::kCounter];
            break;
        case ConfigKey::Commands:
            s.actionCommand1 = c.actionCommand1;
            s.actionCommand2 = c.actionCommand2;
            break;
        default:
            return;
    }
    form_.processes->ShowSettings();
}

}  // namespace ulvarin
