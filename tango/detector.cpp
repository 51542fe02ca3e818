#include "tango/detector.h"

#include <utility>

#include "tango/device_reports.h"

namespace ulvarin::tango_server {

void Detector::Check(const std::string& refusal) {
    if (!refusal.empty()) throw Refused(refusal);
}

Detector::Detector() = default;

Detector::~Detector() {
    Close();
}

void Detector::Open(const std::string& wanted) {
    {
        std::lock_guard lock(mutex_);
        if (running_) throw Refused(kRunUnderWay);
    }
    // The name is checked before anything is closed: a typo keeps the open interface.
    std::string error;
    const std::string description = ChooseInterface(wanted, error);
    if (description.empty()) throw Refused(error);
    // Re-opening the same interface resets it; the DACs set here are sent again.
    std::vector<ChipDacRecord> keptDacs;
    if (session_ && session_->description() == description) keptDacs = session_->records();
    Close();
    auto session = std::make_unique<InterfaceSession>();
    if (!session->Open(description, error) ||
        session->CountHits(error) != InterfaceSession::Load::kOk) {
        const std::string text = WithReport(error, session.get());
        SetStatus(DetectorState::kFault, "Opening " + description + " failed: " + text);
        throw DeviceFailed(text);
    }
    std::string reopened;
    if (keptDacs.size() == session->records().size()) {
        session->records() = keptDacs;
        if (!session->SendDacs()) {
            const std::string text =
                WithReport("Sending the DACs kept from before failed.", session.get());
            SetStatus(DetectorState::kFault, text);
            throw DeviceFailed(text);
        }
        reopened =
            " Re-opened: the DACs are kept; the pixel configuration, the count mode "
            "(counting) and the bias (off) were reset.";
    }
    std::vector<std::string> ids = session->ReadChipIdList();
    session_ = std::move(session);
    std::lock_guard lock(mutex_);
    layout_ = session_->layout();
    records_ = session_->records();
    countModes_ = CountModes(layout_, session_->pixelConfig());
    chipIds_ = std::move(ids);
    lastCounts_.clear();
    acquired_ = dropped_ = 0;
    state_ = DetectorState::kOn;
    status_ = "Open: " + description + "." + reopened;
}

void Detector::Close() {
    Stop();
    JoinWorker();
    if (!session_) return;
    session_.reset();
    SetStatus(DetectorState::kOff, "The interface is closed.");
}

DetectorState Detector::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::string Detector::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void Detector::SetStatus(DetectorState state, const std::string& text) {
    std::lock_guard lock(mutex_);
    state_ = state;
    status_ = text;
}

InterfaceSession& Detector::Session() const {
    if (!session_) throw Refused("No interface is open: Open one first.");
    return *session_;
}

void Detector::CheckIdle() const {
    Session();
    std::lock_guard lock(mutex_);
    if (running_) throw Refused(kRunUnderWay);
}

std::string Detector::description() const {
    return Session().description();
}

std::string Detector::chipType() const {
    Session();
    std::lock_guard lock(mutex_);
    return ChipFamilyName(layout_.family);
}

int Detector::chipCount() const {
    Session();
    std::lock_guard lock(mutex_);
    return layout_.chipCount;
}

std::vector<std::string> Detector::chipIds() {
    Session();
    std::lock_guard lock(mutex_);
    return chipIds_;
}

std::vector<std::string> Detector::dacNames() const {
    Session();
    std::vector<std::string> names;
    const ChipFamily family = layout_.family;
    for (int i = 0; i < DacCountOf(family); ++i) names.emplace_back(DacNameOf(family, i));
    return names;
}

std::vector<std::string> Detector::countModes() const {
    Session();
    std::lock_guard lock(mutex_);
    return countModes_;
}

double Detector::bias() const {
    return Session().biasVolts();
}

int Detector::DacIndex(const std::string& name) const {
    std::string refusal;
    const int index = DacByName(Session().layout().family, name, refusal);
    Check(refusal);
    return index;
}

std::string Detector::thresholdDac() const {
    return Session().layout().family == ChipFamily::Medipix2 ? "Thl" : "Thl Fine";
}

std::vector<int> Detector::GetDac(const std::string& name) const {
    const int index = DacIndex(name);
    std::lock_guard lock(mutex_);
    std::vector<int> values;
    for (const ChipDacRecord& record : records_) values.push_back(record.dac[index]);
    return values;
}

void Detector::SetDac(const std::string& name, const std::vector<int>& values) {
    const int index = DacIndex(name);
    CheckIdle();
    InterfaceSession& session = Session();
    std::string error;
    switch (session.SetDac(index, values, error)) {
        case InterfaceSession::Change::kRefused:
            throw Refused(error);
        case InterfaceSession::Change::kFailed: {
            const std::string text = WithReport(error, &session);
            SetStatus(DetectorState::kFault, text);
            throw DeviceFailed(text);
        }
        case InterfaceSession::Change::kSent:
            break;
    }
    std::lock_guard lock(mutex_);
    records_ = session.records();
}

void Detector::SetBias(double volts) {
    Check(BiasRefusal(volts));
    CheckIdle();
    std::string error;
    if (!Session().SetBias(volts, error)) {
        const std::string text = WithReport(error, &Session());
        SetStatus(DetectorState::kFault, text);
        throw DeviceFailed(text);
    }
}

void Detector::SetCountMode(const std::string& mode) {
    std::string error;
    const int code = CountModeByName(Session().layout().family, mode, error);
    Check(error);
    CheckIdle();
    if (Session().SetTimepixMode(code, error) != InterfaceSession::Load::kOk) {
        const std::string text = WithReport(error, &Session());
        SetStatus(DetectorState::kFault, text);
        throw DeviceFailed(text);
    }
    std::lock_guard lock(mutex_);
    countModes_ = CountModes(layout_, session_->pixelConfig());
}

void Detector::LoadMask(const std::string& path) {
    CheckIdle();
    std::string error;
    const InterfaceSession::Load result = Session().LoadMask(path, error);
    if (result == InterfaceSession::Load::kUnreadable) throw Refused(error);
    if (result != InterfaceSession::Load::kOk) {
        const std::string text = WithReport(error, &Session());
        SetStatus(DetectorState::kFault, text);
        throw DeviceFailed(text);
    }
    std::lock_guard lock(mutex_);
    countModes_ = CountModes(layout_, session_->pixelConfig());
}

RunSettings Detector::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

// A setting changes only between runs: a run keeps what it started with, and a value read
// back during it is the one the run uses.
template <typename T>
void Detector::Change(T RunSettings::*member, T value) {
    std::lock_guard lock(mutex_);
    if (running_) throw Refused(kRunUnderWay);
    settings_.*member = std::move(value);
}

void Detector::SetExposure(double seconds) {
    Check(ExposureRefusal(seconds));
    Change(&RunSettings::exposure, seconds);
}

void Detector::SetFrames(int64_t frames) {
    Check(FramesRefusal(frames));
    Change(&RunSettings::frames, static_cast<int>(frames));
}

void Detector::SetPeriod(double seconds) {
    Check(PeriodRefusal(seconds, 0));
    Change(&RunSettings::period, seconds);
}

void Detector::SetOutputFile(const std::string& path) {
    if (!path.empty()) Check(OutputNameRefusal(path));
    Change(&RunSettings::outputFile, path);
}

void Detector::SetStreamEndpoint(const std::string& endpoint) {
    if (!endpoint.empty()) Check(StreamEndpointRefusal(endpoint));
    Change(&RunSettings::streamEndpoint, endpoint);
}

void Detector::SetStreamWait(double seconds) {
    Check(StreamWaitRefusal(seconds));
    Change(&RunSettings::streamWait, seconds);
}

void Detector::SetOverwrite(bool overwrite) {
    Change(&RunSettings::overwrite, overwrite);
}

}  // namespace ulvarin::tango_server
