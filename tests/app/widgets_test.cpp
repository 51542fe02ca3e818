// The small pieces the windows are built from: the up-down, the device layer's boxes routed
// to the dialogs, file filters, the frame preview's chip layout and the program folder.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/device_boxes.h"
#include "config/program_folder.h"
#include "device/report.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/app/window_fixture.h"
#include "widgets/qt_dialogs.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

TEST(UpDownTest, HandlersMayRefuseOrReplaceASteps) {
    UpDown upDown;
    QLineEdit buddy;
    upDown.SetBuddy(&buddy);
    upDown.SetRange(0, 10);
    upDown.SetPosition(9);
    EXPECT_EQ(buddy.text(), "9");

    int changes = 0;
    QObject::connect(&upDown, &UpDown::positionChanged, [&](int) { ++changes; });
    EXPECT_TRUE(upDown.Step(UpDown::Direction::Up));
    EXPECT_TRUE(upDown.Step(UpDown::Direction::Up));  // held at the maximum
    EXPECT_EQ(upDown.Position(), 10);
    EXPECT_EQ(changes, 1);

    UpDown::Direction seen = UpDown::Direction::None;
    auto refuse = QObject::connect(&upDown, &UpDown::changing, [&](UpDown::Change* change) {
        seen = change->direction;
        change->allow = false;
    });
    EXPECT_FALSE(upDown.Step(UpDown::Direction::Down));
    EXPECT_EQ(seen, UpDown::Direction::Down);
    EXPECT_EQ(upDown.Position(), 10);
    QObject::disconnect(refuse);

    QObject::connect(&upDown, &UpDown::changing,
                     [](UpDown::Change* change) { change->newPosition = change->position - 4; });
    EXPECT_TRUE(upDown.Step(UpDown::Direction::Down));
    EXPECT_EQ(upDown.Position(), 6);
    EXPECT_EQ(buddy.text(), "6");
}

TEST(DeviceBoxesTest, BoxesFromAnyThreadReachTheDialogsOnTheGuiThread) {
    auto dialogs = std::make_shared<ScriptedDialogs>();
    InstallDialogs(dialogs);
    QObject gui;
    InstallDeviceBoxes(&gui);
    MpxDevice handle;
    ReportError(handle, kTransmissionFailed, "no hook, so a box");  // caption names the kind
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].caption, "Transmission failed - No device (0)");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Error);

    std::thread([] { ShowBox({"from a thread", "Thread", BoxIcon::Warning, false}); }).join();
    EXPECT_EQ(dialogs->messages.size(), 1u) << "not shown on the reporting thread";
    ASSERT_TRUE(WaitFor([&] { return dialogs->messages.size() == 2; }));
    EXPECT_EQ(dialogs->messages[1].text, "from a thread");
    EXPECT_EQ(dialogs->messages[1].icon, DialogIcon::Warning);
    RemoveDeviceBoxes();
    InstallDialogs(nullptr);
}

// Hiding a list that never dropped down (as a window being destroyed does) is no close-up.
TEST(DropDownComboTest, OnlyAShownListClosesUp) {
    DropDownCombo combo;
    combo.addItems({QStringLiteral("a"), QStringLiteral("b")});
    int drops = 0;
    int closes = 0;
    QObject::connect(&combo, &DropDownCombo::dropDown, [&] { ++drops; });
    QObject::connect(&combo, &DropDownCombo::closeUp, [&] { ++closes; });
    combo.hidePopup();
    EXPECT_EQ(closes, 0);
    combo.showPopup();
    combo.hidePopup();
    combo.hidePopup();
    EXPECT_EQ(drops, 1);
    EXPECT_EQ(closes, 1);
}

TEST(QtDialogsTest, FiltersAndTextsAreConverted) {
    EXPECT_EQ(QtNameFilters("Text file|*.txt|All files|*.*"), "Text file (*.txt);;All files (*.*)");
    EXPECT_EQ(DisplayText("a\rb\r\nc\nd"), "a\nb\nc\nd");
}

TEST(ProgramFolderTest, TestsCanPointTheProgramElsewhere) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    SetProgramFolder(folder + "/");
    EXPECT_EQ(ProgramFolder(), folder);
    EXPECT_EQ(ConfigFolder(), folder + "/Config");
    SetProgramFolder("");
    EXPECT_EQ(ProgramFolder(), std::filesystem::canonical("/proc/self/exe").parent_path().string());
}

// An installed program keeps its settings in the user's folder, even where it could write
// beside itself (root, or a prefix the user owns); a plain folder named bin keeps them there.
TEST(ProgramFolderTest, AnInstalledProgramUsesTheUsersFolder) {
    QTemporaryDir root;
    const std::string prefix = root.path().toStdString() + "/usr";
    std::filesystem::create_directories(prefix + "/bin");
    const std::string xdg = root.path().toStdString() + "/xdg";
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(xdg));
    SetProgramFolder(prefix + "/bin");
    EXPECT_EQ(ConfigFolder(), prefix + "/bin/Config");
    std::filesystem::create_directories(prefix + "/share/doc/ulvarin");
    EXPECT_EQ(ConfigFolder(), xdg + "/ulvarin/Config");
    SetProgramFolder("");
    if (savedXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedXdg);
}

}  // namespace
}  // namespace ulvarin::test
