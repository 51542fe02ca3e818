#include "session/interface_session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <utility>

#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/dac_tables.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/report.h"
#include "files/mask_file.h"
#include "hardware_process/configuration_keys.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

// Run files record what the interface was sent: a voltage within the supply's or the DAC's
// range as asked (its code is the nearest the hardware has), any other as what its clamped
// or "off" code means, so 1e308, -50 or NaN never reach a file.
// Reads a configuration without sending anything; every question is answered "no".
class NoInterface final : public config::ConfigTarget {
public:
    bool Continue(const std::string&) override { return false; }
    void Apply(config::ConfigKey, const config::Configuration&) override {}
};

// Why a configuration file was not loaded, in one line: a question the window would ask
// ("... \nContinue?") becomes the reason it was refused.
std::string LoadRefusal(const std::string& path, const config::LoadOutcome& outcome) {
    std::string why = outcome.boxText.empty() ? outcome.reportText : outcome.boxText;
    if (outcome.kind == config::LoadOutcome::Kind::kCancelled) {
        const size_t question = why.rfind("Continue?");
        if (question != std::string::npos) why.erase(question);
        while (!why.empty() && std::isspace(static_cast<unsigned char>(why.back()))) why.pop_back();
        return "The configuration " + path + " was not loaded (" + why +
               "): nothing of it was sent.";
    }
    for (char& ch : why)
        if (ch == '\r' || ch == '\n') ch = ' ';
    return why;
}

double SentBiasVolts(double volts) {
    const uint8_t code = BiasToCode(volts);
    if (code == 0) return 0;
    return code == 1 ? CodeToBias(1) : volts;
}

double SentDacVolts(double volts) {
    constexpr double kScale = 1638.6;  // codes per volt, as ConfiguredDacCode converts
    const uint16_t code = ConfiguredDacCode(volts);
    return volts >= 0 && volts * kScale < 4096 ? volts : code / kScale;
}

constexpr int kListBytes = 64 * 1024;
constexpr uint8_t kEveryCompatible = 3;

std::string Trimmed(const char* text) {
    std::string s(text);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

std::vector<std::string> ListInterfaces() {
    std::vector<char> names(kListBytes, 0);
    EnumerateDevices(kEveryCompatible, names.data(), kListBytes);
    std::vector<std::string> list;
    const char* end = names.data() + names.size();
    for (const char* name = names.data(); name < end && *name != 0;) {
        list.emplace_back(name, strnlen(name, static_cast<size_t>(end - name)));
        name += list.back().size() + 1;
    }
    return list;
}

std::string ChooseInterface(const std::string& wanted, std::string& error) {
    const std::vector<std::string> list = ListInterfaces();
    if (list.empty()) {
        error = "No interface found.";
        return {};
    }
    if (wanted.empty()) return list.front();
    size_t index = 0;
    const auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), index);
    if (ec == std::errc() && end == wanted.data() + wanted.size()) {
        if (index < list.size()) return list[index];
        error = "No interface number " + wanted + " (" + std::to_string(list.size()) + " found).";
        return {};
    }
    if (std::find(list.begin(), list.end(), wanted) != list.end()) return wanted;
    std::vector<std::string> matches;
    std::copy_if(list.begin(), list.end(), std::back_inserter(matches),
                 [&](const std::string& name) { return name.find(wanted) != std::string::npos; });
    if (matches.size() == 1) return matches.front();
    if (matches.empty()) {
        error = "No interface matches \"" + wanted + "\".";
        return {};
    }
    error = "More than one interface matches \"" + wanted + "\":";
    for (const std::string& name : matches) error += " \"" + name + "\"";
    error += ".";
    return {};
}

InterfaceSession::InterfaceSession()
    : reports_(handle_, [this](MpxDevice& handle) { Reported(handle); }) {}

void InterfaceSession::Reported(MpxDevice& handle) {
    ReportCallback forward;
    {
        std::lock_guard lock(reportMutex_);
        if (handle.reportKind > kMessage)
            lastError_ = {ErrorKindName(handle.reportKind), handle.reportText};
        forward = onReport_;
    }
    if (forward)
        forward(handle);
    else
        handle.Clear();
}

void InterfaceSession::OnReport(ReportCallback callback) {
    std::lock_guard lock(reportMutex_);
    onReport_ = std::move(callback);
}

InterfaceSession::Report InterfaceSession::TakeLastError() {
    std::lock_guard lock(reportMutex_);
    return std::exchange(lastError_, {});
}

InterfaceSession::~InterfaceSession() {
    if (handle_.device == nullptr) return;
    handle_.Clear();
    CloseDevice(handle_, true);
}

bool InterfaceSession::Open(const std::string& description, std::string& error) {
    handle_.Clear();
    handle_.device = OpenDevice(description.c_str(), true, false, 0);
    if (handle_.device == nullptr) {
        error = "Cannot open " + description + ".";
        return false;
    }
    description_ = description;
    const int chips = ChipCount(handle_);
    if (chips < 1 || chips > kMaxChips) {
        error = "The interface " + description + " reports no chips.";
        return false;
    }
    layout_ = {chips, FamilyFromFlags(IsMxr(handle_), IsTimepix(handle_))};
    records_.assign(static_cast<size_t>(chips), DefaultDacRecord(layout_.family));
    pixelConfig_.assign(layout_.pixelsInUse(), kInitialPixelWord);
    if (!SendDacs()) {
        error = "Loading the chips' DACs failed.";
        return false;
    }
    // The chips keep their pixel configuration through a reset: another program's mask
    // would count under this session's record of the initial words.
    return SendPixelConfig("the initial pixel configuration", error) == Load::kOk;
}

bool InterfaceSession::SendDacs() {
    handle_.Clear();
    return SetChipDacs(handle_, records_.data(), static_cast<int>(records_.size()));
}

InterfaceSession::Change InterfaceSession::SetDac(int index, std::span<const int> values,
                                                  std::string& error) {
    const auto chips = records_.size();
    const char* name = DacNameOf(layout_.family, index);
    if (values.size() != 1 && values.size() != chips) {
        error = std::string(name) + " takes one value for every chip or one per chip (" +
                std::to_string(chips) + "), not " + std::to_string(values.size()) + ".";
        return Change::kRefused;
    }
    error = DacValuesRefusal(layout_.family, index, values);
    if (!error.empty()) return Change::kRefused;
    const std::vector<ChipDacRecord> before = records_;
    for (size_t c = 0; c < chips; ++c)
        records_[c].dac[index] = static_cast<uint16_t>(values[values.size() == 1 ? 0 : c]);
    if (SendDacs()) return Change::kSent;
    records_ = before;
    error = "Setting " + std::string(name) + " failed.";
    return Change::kFailed;
}

InterfaceSession::Load InterfaceSession::LoadConfiguration(const std::string& path,
                                                           std::string& error) {
    config::Configuration c = config::StartConfiguration(layout_.chipCount, records_);
    // A dry run first: a damaged file, or one that raises a question (nobody is there to
    // answer it), is refused whole before any of its keys reaches the interface.
    config::Configuration probe = c;
    NoInterface dry;
    const config::LoadOutcome checked = config::ReadConfiguration(path, probe, dry);
    if (!checked.ok()) {
        error = LoadRefusal(path, checked);
        return Load::kUnreadable;
    }
    process::DeviceSettings target(handle_, pixelConfig_);
    const config::LoadOutcome outcome = config::ReadConfiguration(path, c, target);
    if (!outcome.ok()) {  // the file changed between the two reads
        error = LoadRefusal(path, outcome);
        return Load::kUnreadable;
    }
    std::copy_n(c.records.begin(), records_.size(), records_.begin());
    biasVolts_ = SentBiasVolts(c.biasVolts);
    dac0Volts_ = SentDacVolts(c.dac0Volts);
    dac1Volts_ = SentDacVolts(c.dac1Volts);
    if (!target.allSent()) {
        error = "The interface refused a setting of " + path + ".";
        return Load::kRefused;
    }
    return Load::kOk;
}

InterfaceSession::Load InterfaceSession::LoadMask(const std::string& path, std::string& error) {
    const bool wide = layout_.family != ChipFamily::Medipix2;
    // Read aside: a refused mask leaves the pixel configuration as it was.
    std::vector<uint16_t> words(pixelConfig_.size());
    const MaskReadResult read = ReadMaskFile(path, wide, words.data(), words.size());
    if (read == MaskReadResult::CannotRead) {
        error = "The mask file " + path + " holds too few values for " +
                std::to_string(layout_.chipCount) + " chips.";
        return Load::kUnreadable;
    }
    if (read != MaskReadResult::Ok) {
        error = "Cannot use " + path + " as a mask: " + MaskReadReason(read) + ".";
        return Load::kUnreadable;
    }
    const std::vector<uint16_t> before = pixelConfig_;
    pixelConfig_ = std::move(words);
    const Load sent = SendPixelConfig("the mask", error);
    if (sent != Load::kOk) pixelConfig_ = before;
    return sent;
}

InterfaceSession::Load InterfaceSession::CountHits(std::string& error) {
    if (layout_.family != ChipFamily::Timepix) return Load::kOk;
    return SetTimepixMode(0, error);
}

InterfaceSession::Load InterfaceSession::SetTimepixMode(int mode, std::string& error) {
    ApplyTimepixMode(pixelConfig_.data(), pixelConfig_.size(), mode);
    return SendPixelConfig("the counting mode", error);
}

InterfaceSession::Load InterfaceSession::SendPixelConfig(const std::string& what,
                                                         std::string& error) {
    handle_.Clear();
    if (!SetMatrix(handle_, pixelConfig_.data(), static_cast<uint32_t>(pixelConfig_.size()))) {
        error = "Sending " + what + " to the interface failed.";
        return Load::kRefused;
    }
    return Load::kOk;
}

bool InterfaceSession::SendPixelConfig(std::span<const uint16_t> words, std::string& error) {
    if (words.size() < pixelConfig_.size()) {
        error = "Too few pixel configuration words.";
        return false;
    }
    std::copy_n(words.begin(), pixelConfig_.size(), pixelConfig_.begin());
    return SendPixelConfig("the pixel configuration", error) == Load::kOk;
}

bool InterfaceSession::SetBias(double volts, std::string& error) {
    handle_.Clear();
    if (!ulvarin::SetBias(handle_, BiasToCode(volts))) {
        error = "Setting the bias failed.";
        return false;
    }
    biasVolts_ = SentBiasVolts(volts);
    return true;
}

bool InterfaceSession::SetInterfaceDac(int channel, double volts, std::string& error) {
    handle_.Clear();
    if (!ulvarin::SetInterfaceDac(handle_, static_cast<uint8_t>(channel),
                                  ConfiguredDacCode(volts))) {
        error = "Setting DAC" + std::to_string(channel) + " failed.";
        return false;
    }
    (channel == 0 ? dac0Volts_ : dac1Volts_) = SentDacVolts(volts);
    return true;
}

std::string InterfaceSession::ReadChipIdText() {
    char text[65] = {};
    handle_.Clear();
    return ReadChipIds(handle_, text, 64) ? Trimmed(text) : std::string();
}

std::vector<std::string> InterfaceSession::ReadChipIdList() {
    std::vector<std::string> ids;
    const std::string text = ReadChipIdText();
    for (size_t start = 0; start < text.size();) {
        const size_t space = text.find_first_of(" ,;", start);
        const size_t end = space == std::string::npos ? text.size() : space;
        if (end > start) ids.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

std::string InterfaceSession::ReadFirmware() {
    char text[256] = {};
    handle_.Clear();
    return ReadVersionInfo(handle_, text, sizeof text) ? Trimmed(text) : std::string();
}

RunDescription InterfaceSession::Describe() {
    RunDescription run;
    run.layout = layout_;
    run.deviceName = description_;
    run.chipIdText = ReadChipIdText();
    run.firmware = ReadFirmware();
    run.dacs = records_;
    run.countModes = CountModes(layout_, pixelConfig_);
    run.pixelConfig = pixelConfig_;
    run.biasVolts = biasVolts_;
    run.dac0Volts = dac0Volts_;
    run.dac1Volts = dac1Volts_;
    return run;
}

}  // namespace ulvarin
