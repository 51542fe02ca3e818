// A main window on emulated interfaces with scripted dialogs; everything it opened is
// closed and the default driver and dialogs are restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/form_ulvarin.h"
#include "standard_drivers/emulator_driver.h"
#include "panels/basic_commands/basic_commands.h"
#include "panels/config_bar/config_bar.h"
#include "panels/dac_panel/dac_panel.h"
#include "panels/device_bar/device_bar.h"
#include "panels/frame_files/frame_file_panel.h"
#include "panels/image/image_panel.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/messages/message_log.h"
#include "panels/messages/message_panel.h"
#include "panels/processes/process_panel.h"
#include "panels/pulses/pulse_panel.h"
#include "panels/scan/scan_panel.h"
#include "panels/self_tests/self_tests_panel.h"
#include "sim/chip_state.h"
#include "sim/interface_state.h"
#include "tests/app/scripted_dialogs.h"
#include "widgets/drop_down_combo.h"
#include "widgets/paint_box.h"

namespace ulvarin::test {

// Processes events until `done` holds or `milliseconds` pass; returns whether it holds.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 5000);

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Installs emulated interfaces (`set` as ULVARIN_EMULATOR reads it; "" gives none at
    // all) and makes the window.
    void MakeWindow(const std::string& set);
    // MakeWindow, then waits until the start timer has run and the main timer ticks.
    void Start(const std::string& set);
    // Chooses `description` in the device list and opens it as the operator would.
    void OpenByName(const std::string& description);
    // Start, then plain counting (or, with `counting` false, Timepix pixels left in the
    // window's own mode) from a reset matrix, a 0.1 s interval per process and the scan
    // range typed into the scan boxes.
    void StartForScan(const std::string& set, int from, int to, int step, bool counting = true);

    template <class T>
    T* Control(const char* name) {
        T* control = form->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    // The chip numbers and outlines over the image quadrants, position 1 first.
    std::array<QLabel*, 4> NumberLabels();
    std::array<QFrame*, 4> NumberShapes();
    QStringList Lines();
    QString LastLine();
    bool HasLineStartingWith(const char* start);

    // Picks item `index` of `list` as the operator does: selects it and runs its handler.
    static void Choose(QComboBox* list, int index);
    // Replaces the whole text of `edit` as typing over a selection (or pasting) does.
    static void Type(QLineEdit* edit, const QString& text);

    // The emulated interface's own settings as its commands left them.
    sim::InterfaceState EmulatorState(size_t index);
    uint8_t EmulatorBias(size_t index);
    // A copy of chip `chip` of emulated interface `index`: DACs, configuration, counts.
    sim::ChipState EmulatorChip(size_t index, int chip);
    // The window's pixel configuration words, and whether chip 0 of the first emulated
    // interface holds them (in its register's width).
    std::vector<uint16_t> WindowWords();
    bool EmulatorHoldsWindowWords();
    std::string Description(size_t index) { return emulator->Description(index); }

    // The program folder of this test, so configuration files never pass between tests.
    std::unique_ptr<QTemporaryDir> programFolder;
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<EmulatorDriver> emulator;
    std::unique_ptr<TFormUlvarin> form;
};

}  // namespace ulvarin::test
