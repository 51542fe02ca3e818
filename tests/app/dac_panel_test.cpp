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

#include "app/up_down.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

constexpr int kThl = 8;       // Medipix2 "Thl"
constexpr int kThlFine = 6;   // MXR "Thl Fine", up to 1023
constexpr int kAllChips = 0;  // chip selector item

class DacPanelTest : public WindowTest {
protected:
    QLineEdit* Edit() { return form->ui.EditDACValue; }
    QString Shown() { return Edit()->text(); }
    uint16_t Dac(int chip, int d) { return form->dacRecords[static_cast<size_t>(chip)].dac[d]; }
    void SendDacs() { form->ui.BttnSetDACs->click(); }
};

TEST_F(DacPanelTest, ValuesForOneChipOrAllReachTheChips) {
    Start("medipix2:2");
    ASSERT_EQ(form->ui.ComboDAC->currentIndex(), kThl);
    Choose(form->ui.ComboChip, 2);
    Type(Edit(), "120");
    Choose(form->ui.ComboChip, 1);
    Type(Edit(), "100");
    EXPECT_EQ(Dac(0, kThl), 100);
    EXPECT_EQ(Dac(1, kThl), 120);
    Choose(form->ui.ComboChip, kAllChips);
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
    Choose(form->ui.ComboDAC, kThl - 1);
    Choose(form->ui.ComboDAC, kThl);
    EXPECT_EQ(Shown(), "90");
    SendDacs();
    EXPECT_EQ(EmulatorChip(0, 0).dacs.dac[kThl], 90);
    EXPECT_EQ(EmulatorChip(0, 1).dacs.dac[kThl], 90);
}

TEST_F(DacPanelTest, InvalidValuesPutTheStoredOneBack) {
    Start("mxr:1,medipix2:1");
    ASSERT_EQ(form->ui.ComboDAC->currentIndex(), kThlFine);
    Type(Edit(), "1023");
    EXPECT_EQ(Dac(0, kThlFine), 1023) << "10-bit DAC";
    Type(Edit(), "1024");
    EXPECT_EQ(Shown(), "1023");
    EXPECT_EQ(Dac(0, kThlFine), 1023);

    OpenByName(Description(1));
    ASSERT_EQ(form->ui.ComboDAC->currentIndex(), kThl);
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
    ASSERT_EQ(form->ui.UpDownDACValue->Position(), 200);
    // Typed one below where the arrows last were: a step up must still move.
    Type(Edit(), "199");
    ASSERT_TRUE(form->ui.UpDownDACValue->Step(UpDown::Direction::Up));
    EXPECT_EQ(Shown(), "200");
    EXPECT_EQ(Dac(0, kThl), 200);
    Type(Edit(), "90");
    ASSERT_TRUE(form->ui.UpDownDACValue->Step(UpDown::Direction::Up));
    EXPECT_EQ(Shown(), "91");
    EXPECT_EQ(Dac(0, kThl), 91);
    EXPECT_EQ(Dac(1, kThl), 91);

    Choose(form->ui.ComboChip, 2);
    Type(Edit(), "255");
    form->ui.UpDownDACValue->Step(UpDown::Direction::Up);
    EXPECT_EQ(Shown(), "255");
    EXPECT_EQ(Dac(1, kThl), 255);
    form->ui.UpDownDACValue->Step(UpDown::Direction::Down);
    EXPECT_EQ(Dac(1, kThl), 254);
    EXPECT_EQ(Dac(0, kThl), 91);
}

TEST_F(DacPanelTest, SenseAndBypassShareOneCode) {
    Start("medipix2:2");
    DropDownCombo* sense = form->ui.ComboSenseDAC;
    DropDownCombo* bypass = form->ui.ComboBypassDAC;
    ASSERT_EQ(sense->currentIndex(), 12);
    ASSERT_EQ(bypass->currentIndex(), 0);

    Choose(bypass, 5);  // code 4; sensing is on, so it follows
    EXPECT_EQ(sense->currentIndex(), 5);
    for (const ChipDacRecord& r : {form->dacRecords[0], form->dacRecords[1]}) {
        EXPECT_EQ(r.senseCode, 4);
        EXPECT_EQ(r.senseEnabled, 1);
        EXPECT_EQ(r.bypassEnabled, 1);
    }
    Choose(sense, 3);
    EXPECT_EQ(bypass->currentIndex(), 3);
    EXPECT_EQ(form->dacRecords[1].senseCode, 2);

    Choose(sense, 0);  // "(none)": sensing off, the code stays
    EXPECT_EQ(form->dacRecords[0].senseEnabled, 0);
    EXPECT_EQ(form->dacRecords[0].senseCode, 2);
    EXPECT_EQ(bypass->currentIndex(), 3);

    // One chip: the selectors show that chip; a sense DAC moves its bypass along.
    Choose(form->ui.ComboChip, 1);
    EXPECT_EQ(sense->currentIndex(), 0);
    EXPECT_EQ(bypass->currentIndex(), 3);
    Choose(sense, 8);
    EXPECT_EQ(bypass->currentIndex(), 8);
    EXPECT_EQ(form->dacRecords[0].senseCode, 7);
    EXPECT_EQ(form->dacRecords[1].senseCode, 2);

    // The chips now differ: "All" shows neither.
    Choose(form->ui.ComboChip, kAllChips);
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
        QCoreApplication::sendEvent(form->ui.LabelSelChip, &event);
    }
    void Leave() {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(form->ui.LabelSelChip, &event);
    }
    // Which outlines and numbers are shown, as "1010" by position.
    QString Shapes() { return Pattern(form->ui.numberShapes); }
    QString Numbers() { return Pattern(form->ui.numberLabels); }

    static QString Pattern(const auto& marks) {
        QString shown;
        for (const QWidget* mark : marks) shown += mark->isHidden() ? '0' : '1';
        return shown;
    }
};

TEST_F(ChipMarksTest, OnlyFourChipsShowWhereEachChipLies) {
    Start("timepix:4,medipix2:1");
    form->show();
    form->ui.ComboChip->showPopup();
    EXPECT_EQ(Numbers(), "1111");
    EXPECT_EQ(Shapes(), "1111");
    form->ui.ComboChip->hidePopup();
    EXPECT_EQ(Numbers(), "0000");
    EXPECT_EQ(Shapes(), "0000");

    // Chip 1 lies where the number "1" is: the upper left quadrant (position 2) on Timepix.
    Choose(form->ui.ComboChip, 1);
    Enter();
    EXPECT_EQ(Shapes(), "0100");
    Leave();
    EXPECT_EQ(Shapes(), "0000");
    Choose(form->ui.ComboChip, kAllChips);
    Enter();
    EXPECT_EQ(Shapes(), "1111");
    Leave();

    OpenByName(Description(1));
    form->ui.ComboChip->showPopup();
    EXPECT_EQ(Numbers(), "0000");
    EXPECT_EQ(Shapes(), "0000");
    form->ui.ComboChip->hidePopup();
    Enter();
    EXPECT_EQ(Shapes(), "0000");
}

}  // namespace
}  // namespace ulvarin::test
