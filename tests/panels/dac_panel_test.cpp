// The DAC panel against emulated interfaces: values edited for one chip or all chips and
// sent with "Set DACs", invalid values put back, the up-down stepping from the stored value,
// the shared sense/bypass code, and the chip position marks.
#include <QCoreApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QWheelEvent>

#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

constexpr int kThl = 8;       // Medipix2 "Thl"
constexpr int kThlFine = 6;   // MXR "Thl Fine", up to 1023
constexpr int kAllChips = 0;  // chip selector item

class DacPanelTest : public WindowTest {
protected:
    QLineEdit* Edit() { return Control<QLineEdit>("EditDACValue"); }
    QString Shown() { return Edit()->text(); }
    uint16_t Dac(int chip, int d) {
        return form->shared.dacRecords[static_cast<size_t>(chip)].dac[d];
    }
    void SendDacs() { Control<QPushButton>("BttnSetDACs")->click(); }
};

TEST_F(DacPanelTest, ValuesForOneChipOrAllReachTheChips) {
    Start("medipix2:2");
    ASSERT_EQ(Control<DropDownCombo>("ComboDAC")->currentIndex(), kThl);
    Choose(Control<DropDownCombo>("ComboChip"), 2);
    Type(Edit(), "120");
    Choose(Control<DropDownCombo>("ComboChip"), 1);
    Type(Edit(), "100");
    EXPECT_EQ(Dac(0, kThl), 100);
    EXPECT_EQ(Dac(1, kThl), 120);
    Choose(Control<DropDownCombo>("ComboChip"), kAllChips);
    EXPECT_EQ(Shown(), "...") << "the chips differ";

    SendDacs();
    EXPECT_TRUE(LastLine().contains(
        QRegularExpression(R"(^Message: "Set DACs" executed in [0-9.e+-]+ sec$)")))
        << LastLine().toStdString();
    EXPECT_EQ(EmulatorChip(0, 0).dacs.dac[kThl], 100);
    EXPECT_EQ(EmulatorChip(0, 1).dacs.dac[kThl], 120);

    // Typed over "...", a value goes to every chip and is shown from then on.
    Type(Edit(), "90");
    EXPECT_EQ(Dac(0, kThl), 90);
    EXPECT_EQ(Dac(1, kThl), 90);
    Choose(Control<DropDownCombo>("ComboDAC"), kThl - 1);
    Choose(Control<DropDownCombo>("ComboDAC"), kThl);
    EXPECT_EQ(Shown(), "90");
    SendDacs();
    EXPECT_EQ(EmulatorChip(0, 0).dacs.dac[kThl], 90);
    EXPECT_EQ(EmulatorChip(0, 1).dacs.dac[kThl], 90);
}

TEST_F(DacPanelTest, InvalidValuesPutTheStoredOneBack) {
    Start("mxr:1,medipix2:1");
    ASSERT_EQ(Control<DropDownCombo>("ComboDAC")->currentIndex(), kThlFine);
    Type(Edit(), "1023");
    EXPECT_EQ(Dac(0, kThlFine), 1023) << "10-bit DAC";
    Type(Edit(), "1024");
    EXPECT_EQ(Shown(), "1023");
    EXPECT_EQ(Dac(0, kThlFine), 1023);

    OpenByName(Description(1));
    ASSERT_EQ(Control<DropDownCombo>("ComboDAC")->currentIndex(), kThl);
    Type(Edit(), "250");
    for (const char* invalid : {"256", "-1", "", "abc", "99999999999"}) {
        Type(Edit(), invalid);
        EXPECT_EQ(Shown(), "250") << invalid;
        EXPECT_EQ(Dac(0, kThl), 250) << invalid;
    }
    Type(Edit(), " 7 V");  // read as a leading number, like "%d"
    EXPECT_EQ(Dac(0, kThl), 7);
    emit Edit()->editingFinished();
    EXPECT_EQ(Dac(0, kThl), 7);
}

TEST_F(DacPanelTest, ArrowsStepFromTheStoredValueWithinTheRange) {
    Start("medipix2:2");
    ASSERT_EQ(Control<UpDown>("UpDownDACValue")->Position(), 200);
    // Typed one below where the arrows last were: a step up must still move.
    Type(Edit(), "199");
    ASSERT_TRUE(Control<UpDown>("UpDownDACValue")->Step(UpDown::Direction::Up));
    EXPECT_EQ(Shown(), "200");
    EXPECT_EQ(Dac(0, kThl), 200);
    Type(Edit(), "90");
    ASSERT_TRUE(Control<UpDown>("UpDownDACValue")->Step(UpDown::Direction::Up));
    EXPECT_EQ(Shown(), "91");
    EXPECT_EQ(Dac(0, kThl), 91);
    EXPECT_EQ(Dac(1, kThl), 91);

    Choose(Control<DropDownCombo>("ComboChip"), 2);
    Type(Edit(), "255");
    Control<UpDown>("UpDownDACValue")->Step(UpDown::Direction::Up);
    EXPECT_EQ(Shown(), "255");
    EXPECT_EQ(Dac(1, kThl), 255);
    Control<UpDown>("UpDownDACValue")->Step(UpDown::Direction::Down);
    EXPECT_EQ(Dac(1, kThl), 254);
    EXPECT_EQ(Dac(0, kThl), 91);

    // The Up and Down keys and the wheel in the box step as the arrows do.
    QTest::keyClick(Edit(), Qt::Key_Up);
    EXPECT_EQ(Dac(1, kThl), 255);
    QTest::keyClick(Edit(), Qt::Key_Down);
    QTest::keyClick(Edit(), Qt::Key_Down);
    EXPECT_EQ(Dac(1, kThl), 253);
    // The wheel steps the box once it has focus (before, it scrolls the controls).
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Edit()->setFocus();
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Edit(), &wheel);
    EXPECT_EQ(Shown(), "254");
    EXPECT_EQ(Dac(1, kThl), 254);
}

TEST_F(DacPanelTest, SenseAndBypassShareOneCode) {
    Start("medipix2:2");
    DropDownCombo* sense = Control<DropDownCombo>("ComboSenseDAC");
    DropDownCombo* bypass = Control<DropDownCombo>("ComboBypassDAC");
    ASSERT_EQ(sense->currentIndex(), 12);
    ASSERT_EQ(bypass->currentIndex(), 0);

    Choose(bypass, 5);  // code 4; sensing is on, so it follows
    EXPECT_EQ(sense->currentIndex(), 5);
    for (const ChipDacRecord& r : {form->shared.dacRecords[0], form->shared.dacRecords[1]}) {
        EXPECT_EQ(r.senseCode, 4);
        EXPECT_EQ(r.senseEnabled, 1);
        EXPECT_EQ(r.bypassEnabled, 1);
    }
    Choose(sense, 3);
    EXPECT_EQ(bypass->currentIndex(), 3);
    EXPECT_EQ(form->shared.dacRecords[1].senseCode, 2);

    Choose(sense, 0);  // "(none)": sensing off, the code stays
    EXPECT_EQ(form->shared.dacRecords[0].senseEnabled, 0);
    EXPECT_EQ(form->shared.dacRecords[0].senseCode, 2);
    EXPECT_EQ(bypass->currentIndex(), 3);

    // One chip: the selectors show that chip; a sense DAC moves its bypass along.
    Choose(Control<DropDownCombo>("ComboChip"), 1);
    EXPECT_EQ(sense->currentIndex(), 0);
    EXPECT_EQ(bypass->currentIndex(), 3);
    Choose(sense, 8);
    EXPECT_EQ(bypass->currentIndex(), 8);
    EXPECT_EQ(form->shared.dacRecords[0].senseCode, 7);
    EXPECT_EQ(form->shared.dacRecords[1].senseCode, 2);

    // The chips now differ: "All" shows neither.
    Choose(Control<DropDownCombo>("ComboChip"), kAllChips);
    EXPECT_EQ(sense->currentIndex(), 0);
    EXPECT_EQ(bypass->currentIndex(), 0);

    SendDacs();
    const sim::ChipDacs first = EmulatorChip(0, 0).dacs;
    const sim::ChipDacs second = EmulatorChip(0, 1).dacs;
    EXPECT_EQ(first.senseCode, 7);
    EXPECT_TRUE(first.senseEnabled);
    EXPECT_TRUE(first.bypassEnabled);
    EXPECT_EQ(second.senseCode, 2);
    EXPECT_FALSE(second.senseEnabled);
    EXPECT_TRUE(second.bypassEnabled);
}

class ChipMarksTest : public DacPanelTest {
protected:
    void Enter() {
        QEnterEvent event(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(Control<QLabel>("LabelSelChip"), &event);
    }
    void Leave() {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(Control<QLabel>("LabelSelChip"), &event);
    }
    // Which outlines and numbers are shown, as "1010" by position.
    QString Shapes() { return Pattern(NumberShapes()); }
    QString Numbers() { return Pattern(NumberLabels()); }

    static QString Pattern(const auto& marks) {
        QString shown;
        for (const QWidget* mark : marks) shown += mark->isHidden() ? '0' : '1';
        return shown;
    }
};

TEST_F(ChipMarksTest, OnlyFourChipsShowWhereEachChipLies) {
    Start("timepix:4,medipix2:1");
    form->show();
    Control<DropDownCombo>("ComboChip")->showPopup();
    EXPECT_EQ(Numbers(), "1111");
    EXPECT_EQ(Shapes(), "1111");
    Control<DropDownCombo>("ComboChip")->hidePopup();
    EXPECT_EQ(Numbers(), "0000");
    EXPECT_EQ(Shapes(), "0000");

    // Chip 1 lies where the number "1" is: the upper left quadrant (position 2) on Timepix.
    Choose(Control<DropDownCombo>("ComboChip"), 1);
    Enter();
    EXPECT_EQ(Shapes(), "0100");
    Leave();
    EXPECT_EQ(Shapes(), "0000");
    Choose(Control<DropDownCombo>("ComboChip"), kAllChips);
    Enter();
    EXPECT_EQ(Shapes(), "1111");
    Leave();

    OpenByName(Description(1));
    Control<DropDownCombo>("ComboChip")->showPopup();
    EXPECT_EQ(Numbers(), "0000");
    EXPECT_EQ(Shapes(), "0000");
    Control<DropDownCombo>("ComboChip")->hidePopup();
    Enter();
    EXPECT_EQ(Shapes(), "0000");
}

}  // namespace
}  // namespace ulvarin::test
