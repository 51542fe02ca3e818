// What the groups of the main window share: the device handle through which the whole
// window talks to the interface, the chips found on it, the DAC records, the frame store,
// operation groups of the message list and the dialogs. The window owns one and hands it
// to every panel; panels talk to each other only through its methods and signals, or
// through signals the window connects.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "device/dac_tables.h"
#include "device/device.h"
#include "imaging/frame_store.h"
#include "widgets/dialogs.h"
#include "wire/stream_layout.h"

class QWidget;

namespace ulvarin {

// Ends a group's controls ahead of the group itself, for its destructor: their signals are
// blocked first, so no focus-out, edit or selection that the teardown causes runs a
// handler, and the controls go while the object their event watchers call into is whole.
void TearDownControls(QWidget* group);

// The four chips' DAC records as the window holds them at start: Medipix2 defaults.
std::array<ChipDacRecord, kMaxChips> InitialDacRecords();

// The scope set-up as "Scope configure" carries it.
struct ScopeSetup {
    uint8_t channelMask = 0;
    uint16_t samples = 0;
    uint8_t mode = 0;  // sampling code in bits 0-1
};

// Settings of the interface that the main window shows, as a part of the program other than
// the group showing them has just sent them (the tester, the terminal, a configuration
// file, closing the interface). Only the fields that are set were sent.
struct SentSettings {
    std::optional<double> biasVolts;  // 0: off
    std::array<std::optional<double>, 2> interfaceDacVolts;
    std::optional<bool> negativePolarity;
    std::optional<int> fsr;  // Medipix2: counter 0 or 1
    std::optional<ScopeSetup> scope;
    bool chipDacs = false;  // the DAC records changed as a whole

    bool Empty() const;
    // A bias code as the voltage the window stores for it: 0 for off, else the code's
    // voltage, which converts back to the same code.
    static SentSettings BiasCode(uint8_t code);
    static SentSettings InterfaceDacCode(int channel, uint16_t code);
};

// The settings carried by raw command bytes sent to the interface, command after command as
// the command table frames them. Decoding stops at a letter the table does not have, at a
// command whose length depends on the chips (the DAC and matrix streams) and at a command
// cut short: what follows cannot be told apart from parameters.
SentSettings SettingsInCommandBytes(std::span<const uint8_t> bytes);

class WindowShared : public QObject {
    Q_OBJECT
public:
    using Command = std::function<bool(MpxDevice&)>;

    MpxDevice device;
    std::atomic<uint32_t> chipCount{0};  // read by the background hook on any thread
    bool isMxr = false;
    bool isTimepix = false;
    std::array<ChipDacRecord, kMaxChips> dacRecords = InitialDacRecords();
    // The frame arrays (raw, counts, result, flat field, pixel configuration), their
    // geometry and the frame times.
    FrameStore frames;

    bool IsOpen() const { return device.device != nullptr; }
    ChipType Type() const;
    // The DAC records of every chip in use.
    std::span<ChipDacRecord> ChipRecords();

    // Starts an operation group in the message list (each operator action that talks to
    // the interface begins with this).
    void BeginOperation() { emit operationBegun(); }
    // Adds a line to the message list as it is, not through a report.
    void AddLogLine(const QString& line) { emit logLine(line); }
    // Runs `command` on the cleared handle; on success reports "\"name\" executed in ... sec".
    bool RunTimed(const char* name, const Command& command);
    // Sends one command as its own operation, on the cleared handle.
    bool Send(const Command& command);
    // Sends the pixel configuration words (or, with `defaults`, the default matrix) as an
    // operation of its own; with `timedName`, reports its duration under that name. Offline,
    // reports `offlineText` instead. Either way the image is redrawn, since the mask views
    // show the words whether or not the chips took them.
    void SendPixelConfig(const char* timedName, bool defaults, const char* offlineText);
    Dialogs& dialogs() const { return CurrentDialogs(); }

    // A frame has been written into the raw frame: it is to be taken in and shown.
    void FrameArrived() { emit frameArrived(); }
    // The same for a frame the interface sent on its own: taken in at once, its image
    // recomputed at the next repaint, so a stream of frames costs one recomputation per
    // repaint rather than one per frame.
    void BackgroundFrameArrived() { emit backgroundFrameArrived(); }
    // The image's data changed without a new frame (a mask, a flat field, an erase while
    // summing): it is to be recomputed and repainted.
    void ImageChanged() { emit imageChanged(); }
    // The result array is to hold the selected view as shown before it is read (the image
    // recomputes lazily, at its next repaint).
    void UpdateView() { emit viewNeeded(); }

    // Tells every group that shows one of `settings` that the interface now holds it.
    void SettingsSent(const SentSettings& settings);

    // The configuration of the open interface; until a configuration store is installed
    // nothing is loaded (false) and nothing is saved.
    bool LoadConfiguration(bool interactive);
    void SaveConfiguration(bool interactive);
    std::function<bool(bool interactive)> configurationLoader;
    std::function<void(bool interactive)> configurationSaver;

signals:
    void operationBegun();
    void logLine(const QString& line);
    // After a full open: the chip count and type are new and the frame store is laid out
    // for them; every group resets what depends on the chips.
    void interfaceReset();
    // After every open attempt and every close; `IsOpen` tells which.
    void openStateChanged();
    // Settings were sent from outside the group that shows them: it shows them now.
    void interfaceSettingsSent(const ulvarin::SentSettings& settings);
    void frameArrived();
    void backgroundFrameArrived();
    void imageChanged();
    void viewNeeded();
};

}  // namespace ulvarin
