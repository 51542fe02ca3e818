// An interface opened for the command line: found by name, index or default, reset and
// identified, its chips' DACs loaded, and what a run file records about it.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "device/device.h"
#include "files/frame_writer.h"
#include "session/device_events.h"
#include "session/run_rules.h"

namespace ulvarin {

// The descriptions of every compatible interface, real ones first, then emulated ones.
std::vector<std::string> ListInterfaces();

// The description `wanted` names: empty for the first listed interface, a number for that
// entry of ListInterfaces (counted from 0), else an exact description or the only one that
// contains the text. Empty with `error` set when none (or more than one) matches.
std::string ChooseInterface(const std::string& wanted, std::string& error);

class InterfaceSession {
public:
    InterfaceSession();
    // Closes the interface.
    ~InterfaceSession();
    InterfaceSession(const InterfaceSession&) = delete;
    InterfaceSession& operator=(const InterfaceSession&) = delete;

    // Opens `description` with a reset, learns its chips and loads every chip with its
    // family's default DACs and the initial pixel configuration. False with `error` set
    // when that fails.
    bool Open(const std::string& description, std::string& error);

    // How loading a settings file went; `error` says why when it failed.
    enum class Load { kOk, kUnreadable, kRefused };
    // Reads a configuration file of the window's format and sends what it sets: kUnreadable
    // when the file cannot be read whole, kRefused when the interface refused a setting.
    Load LoadConfiguration(const std::string& path, std::string& error);
    // Reads a pixel mask file and sends it as the pixel configuration.
    Load LoadMask(const std::string& path, std::string& error);
    // Timepix only: sets every pixel's counting mode (0 counting, 1 time over threshold,
    // 2 one hit, 3 time of arrival) in the pixel configuration and sends it.
    Load SetTimepixMode(int mode, std::string& error);
    // Timepix chips may come up timing arrivals, which fills every exposed pixel to the
    // top: the faces that open an interface for runs make its pixels count hits (Timepix
    // only; other chips always count). Same outcomes as SetTimepixMode.
    Load CountHits(std::string& error);
    // Sends the DAC records as they stand now.
    bool SendDacs();
    // Sets DAC `index` of every chip to one value, or of each chip to its own, and sends the
    // records: kRefused (nothing sent) for a wrong count or a value out of the DAC's range,
    // kFailed (records as before) when the interface refused. `error` says why.
    enum class Change { kSent, kRefused, kFailed };
    Change SetDac(int index, std::span<const int> values, std::string& error);
    // Sends `words` (layout().pixelsInUse() of them) as the pixel configuration, which
    // pixelConfig() then gives. False with `error` set when the interface refused it.
    bool SendPixelConfig(std::span<const uint16_t> words, std::string& error);
    const std::vector<uint16_t>& pixelConfig() const { return pixelConfig_; }
    // Sets the sensor bias (the supply's code for `volts`; below 23 V it is off) or one of
    // the interface's two DACs (0 or 1, 12-bit code of `volts` out of 2.5 V), and records
    // the voltage for the run files. False with `error` set when the interface refused.
    bool SetBias(double volts, std::string& error);
    bool SetInterfaceDac(int channel, double volts, std::string& error);
    double biasVolts() const { return biasVolts_; }

    // Chip IDs and firmware version as the interface reports them ("" when unread).
    std::string ReadChipIdText();
    // The same, one entry per chip.
    std::vector<std::string> ReadChipIdList();
    std::string ReadFirmware();
    // What the run file records: layout, names, DACs, voltages.
    RunDescription Describe();

    // The device layer's reports on this session's interface (and only its): each goes to
    // `callback` (on the thread that made it; it must not block), and the latest error among
    // them is kept for TakeLastError. Without a callback reports are kept and cleared.
    void OnReport(ReportCallback callback);
    struct Report {
        std::string kind;  // "Timeout error", ... ("" when there is none)
        std::string text;
    };
    // The latest error report since the last call (a kind above a plain message), which is
    // then forgotten.
    Report TakeLastError();

    MpxDevice& handle() { return handle_; }
    const ChipLayout& layout() const { return layout_; }
    const std::string& description() const { return description_; }
    std::vector<ChipDacRecord>& records() { return records_; }

private:
    Load SendPixelConfig(const std::string& what, std::string& error);
    void Reported(MpxDevice& handle);

    MpxDevice handle_;
    std::string description_;
    ChipLayout layout_;
    std::vector<ChipDacRecord> records_;
    std::vector<uint16_t> pixelConfig_;
    double biasVolts_ = RunDescription::kUnknown, dac0Volts_ = RunDescription::kUnknown,
           dac1Volts_ = RunDescription::kUnknown;
    std::mutex reportMutex_;
    ReportCallback onReport_;
    Report lastError_;
    ReportListener reports_;  // last: goes first, before what its callback uses
};

}  // namespace ulvarin
