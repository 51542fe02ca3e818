#include "tests/app/window_fixture.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <vector>

#include "config/program_folder.h"
#include "device/drivers/driver_registry.h"
#include "device/link.h"
#include "device/monitor.h"
#include "device/report.h"
#include "widgets/dialogs.h"

namespace ulvarin::test {

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void WindowTest::MakeWindow(const std::string& set) {
    InstallDialogs(dialogs);
    programFolder = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder->path().toStdString());
    emulator = set.empty() ? std::make_shared<EmulatorDriver>(std::vector<sim::InterfaceConfig>{})
                           : MakeEmulatorDriver(set);
    InstallDriver(emulator);
    form = std::make_unique<TFormUlvarin>();
}

void WindowTest::Start(const std::string& set) {
    MakeWindow(set);
    ASSERT_TRUE(WaitFor([&] { return form->Timer->isActive(); }));
}

void WindowTest::StartForScan(const std::string& set, int from, int to, int step, bool counting) {
    Start(set);
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
    if (form->shared.isTimepix && counting) form->basics->ChooseMode(0);
    form->basics->BttnResetMatrixClick();
    Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("0.1"));
    for (auto [box, value] :
         {std::pair{"EditScanFrom", from}, {"EditScanTo", to}, {"EditScanStep", step}}) {
        auto* edit = Control<QLineEdit>(box);
        edit->setText(QString::number(value));
        emit edit->editingFinished();
    }
}

void WindowTest::OpenByName(const std::string& description) {
    form->deviceBar->ComboDeviceNameDropDown();
    auto* list = Control<DropDownCombo>("ComboDeviceName");
    const int index = list->findText(QString::fromStdString(description));
    ASSERT_GE(index, 0) << description;
    list->setCurrentIndex(index);
    form->deviceBar->ComboDeviceNameSelect();
}

void WindowTest::TearDown() {
    form.reset();
    StopMonitor();
    MpxDevice leftOpen;
    while ((leftOpen.device = registry::At(0)) != nullptr) CloseDevice(leftOpen, true);
    InstallDriver(nullptr);
    InstallDialogs(nullptr);
    SetProgramFolder("");
    programFolder.reset();
}

std::array<QLabel*, 4> WindowTest::NumberLabels() {
    std::array<QLabel*, 4> labels{};
    for (int i = 0; i < 4; ++i)
        labels[i] =
            Control<QLabel>(QByteArray("Label_Number" + QByteArray::number(i + 1)).constData());
    return labels;
}

std::array<QFrame*, 4> WindowTest::NumberShapes() {
    std::array<QFrame*, 4> shapes{};
    for (int i = 0; i < 4; ++i)
        shapes[i] =
            Control<QFrame>(QByteArray("Shape_Number" + QByteArray::number(i + 1)).constData());
    return shapes;
}

QStringList WindowTest::Lines() {
    QStringList lines;
    for (int i = 0; i < Control<QListWidget>("ListMsg")->count(); ++i)
        lines << Control<QListWidget>("ListMsg")->item(i)->text();
    return lines;
}

bool WindowTest::HasLineStartingWith(const char* start) {
    const QStringList lines = Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.startsWith(start); });
}

QString WindowTest::LastLine() {
    const QStringList lines = Lines();
    return lines.isEmpty() ? QString() : lines.last();
}

sim::InterfaceState WindowTest::EmulatorState(size_t index) {
    sim::InterfaceState state;
    emulator->WithInterface(index, [&](sim::EmulatedInterface& e) { state = e.State(); });
    return state;
}

uint8_t WindowTest::EmulatorBias(size_t index) {
    uint8_t code = 0;
    emulator->WithInterface(index,
                            [&](sim::EmulatedInterface& e) { code = e.Analog().BiasCode(); });
    return code;
}

void WindowTest::Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void WindowTest::Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    edit->insert(text);  // an edit: emits textEdited, as keys and paste do
}

sim::ChipState WindowTest::EmulatorChip(size_t index, int chip) {
    sim::ChipState state;
    emulator->WithInterface(index, [&](sim::EmulatedInterface& e) { state = e.Chip(chip); });
    return state;
}

std::vector<uint16_t> WindowTest::WindowWords() {
    const auto config = form->shared.frames.config().first(form->shared.frames.pixelsInUse());
    return {config.begin(), config.end()};
}

bool WindowTest::EmulatorHoldsWindowWords() {
    const uint16_t width = form->shared.isTimepix ? 0x3FFF : 0x1FFF;
    const std::vector<uint16_t> held = EmulatorChip(0, 0).pixelConfig;
    const auto config = form->shared.frames.config();
    for (size_t p = 0; p < held.size() && p < config.size() && p < size_t{65536}; ++p)
        if (((held[p] ^ config[p]) & width) != 0) return false;
    return true;
}

}  // namespace ulvarin::test
