// The "Interface DACs/ADCs" group against the emulated interface: bias and DAC codes reach
// it, the boxes show the voltages the codes give, bad values are refused, the ADC labels and
// the scope monitor show its readings, and the scope set-up is sent as normalised.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>

#include "device/conversions.h"
#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

class AnalogPanelTest : public WindowTest {
protected:
    void SetUp() override { Start("timepix:1"); }
    QComboBox* Box(const char* name) { return Control<QComboBox>(name); }
    void TypeInto(const char* box, const char* text) {
        Box(box)->setEditText(QString::fromUtf8(text));
    }
    void Press(const char* button) { Control<QPushButton>(button)->click(); }
    QString Shown(const char* box) { return Box(box)->currentText(); }
    uint16_t EmulatorDac(int channel) {
        uint16_t code = 0;
        emulator->WithInterface(
            0, [&](sim::EmulatedInterface& e) { code = e.Analog().InterfaceDac(channel); });
        return code;
    }
    UpDown* Arrows(const char* name) { return Control<UpDown>(name); }
};

TEST_F(AnalogPanelTest, BiasIsSentAsACodeAndShownAsItsVoltage) {
    Choose(Box("CombBias"), Box("CombBias")->findText("60 V"));
    EXPECT_EQ(EmulatorBias(0), BiasToCode(60.0));
    EXPECT_EQ(Shown("CombBias"), QString::asprintf("%.5g V", CodeToBias(BiasToCode(60.0))));
    EXPECT_DOUBLE_EQ(form->analog->analog.biasVolts, 60.0);

    Choose(Box("CombBias"), Box("CombBias")->findText("OFF"));
    EXPECT_EQ(EmulatorBias(0), 0);
    EXPECT_EQ(Shown("CombBias"), "4.5 V");

    for (const char* bad : {"106", "abc", "-1", "nan"}) {
        TypeInto("CombBias", bad);
        Press("BttnSetBias");
        ASSERT_FALSE(dialogs->messages.empty()) << bad;
        EXPECT_EQ(dialogs->messages.back().text, "Incorect value of bias voltage!");
        EXPECT_EQ(dialogs->messages.back().caption, "Format error");
        EXPECT_EQ(EmulatorBias(0), 0) << bad;
    }

    // The arrows step the code: from off up to the lowest voltage, then higher.
    TypeInto("CombBias", "OFF");
    Press("BttnSetBias");
    Arrows("UpDownHV")->Step(UpDown::Direction::Down);  // off stays off
    EXPECT_EQ(EmulatorBias(0), 0);
    Arrows("UpDownHV")->Step(UpDown::Direction::Up);
    EXPECT_EQ(EmulatorBias(0), 255);
    EXPECT_EQ(Shown("CombBias"), "23.32 V");
    Arrows("UpDownHV")->Step(UpDown::Direction::Down);  // no lower voltage than code 255
    EXPECT_EQ(EmulatorBias(0), 255);
    Arrows("UpDownHV")->Step(UpDown::Direction::Up);
    EXPECT_EQ(EmulatorBias(0), 254);
    TypeInto("CombBias", "104.5");
    Press("BttnSetBias");
    ASSERT_EQ(EmulatorBias(0), 1);
    const size_t boxes = dialogs->messages.size();
    Arrows("UpDownHV")->Step(UpDown::Direction::Up);  // already the highest
    EXPECT_EQ(EmulatorBias(0), 1);
    EXPECT_EQ(dialogs->messages.size(), boxes);
}

TEST_F(AnalogPanelTest, InterfaceDacsTakeTwelveBitCodes) {
    TypeInto("CombDAC0", "2.4");
    Press("BttnDAC0Set");
    EXPECT_EQ(EmulatorDac(0), 3932);
    EXPECT_EQ(Shown("CombDAC0"), "2.3999 V");
    Choose(Box("CombDAC1"), Box("CombDAC1")->findText("0.5 V"));
    EXPECT_EQ(EmulatorDac(1), 819);

    // Above the DAC's range the code would wrap: refused like a malformed value.
    TypeInto("CombDAC0", "3");
    Press("BttnDAC0Set");
    ASSERT_FALSE(dialogs->messages.empty());
    EXPECT_EQ(dialogs->messages.back().text, "Incorect value of DAC0 voltage!");
    EXPECT_EQ(EmulatorDac(0), 3932);

    // The arrows step the code within 0 to 4095.
    TypeInto("CombDAC0", "2.4995");
    Press("BttnDAC0Set");
    ASSERT_EQ(EmulatorDac(0), 4095);
    Arrows("UpDownDAC0")->Step(UpDown::Direction::Up);
    EXPECT_EQ(EmulatorDac(0), 4095);
    Arrows("UpDownDAC0")->Step(UpDown::Direction::Down);
    EXPECT_EQ(EmulatorDac(0), 4094);
    TypeInto("CombDAC1", "0");
    Press("BttnDAC1Set");
    Arrows("UpDownDAC1")->Step(UpDown::Direction::Down);
    EXPECT_EQ(EmulatorDac(1), 0);
    Arrows("UpDownDAC1")->Step(UpDown::Direction::Up);
    EXPECT_EQ(EmulatorDac(1), 1);
    EXPECT_EQ(Shown("CombDAC1"), "0.00061035 V");
}

TEST_F(AnalogPanelTest, AdcReadingsReachTheLabelsAndTheScopeMonitor) {
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);  // only the reads made here
    TypeInto("CombDAC0", "1.5");
    Press("BttnDAC0Set");
    TypeInto("CombDAC1", "0.8");
    Press("BttnDAC1Set");
    Press("BttnInterfaceADCread");
    // ADC channel 1 reads DAC0 and channel 3 DAC1, within the converter's noise.
    const auto volts = [&](const char* label) {
        return Control<QLabel>(label)->text().chopped(2).toDouble();
    };
    EXPECT_NEAR(volts("LabelADC1"), DacCodeToVolts(2457), 0.002);
    EXPECT_NEAR(volts("LabelADC3"), DacCodeToVolts(1310), 0.002);
    EXPECT_TRUE(Control<QLabel>("LabelADC2")->text().endsWith(" V"));
    ScopeMonitor& monitor = form->analog->monitor;
    EXPECT_EQ(monitor.rings[0].Count(), 1);
    EXPECT_EQ(monitor.rings[12].Count(), 1);
    Press("BttnInterfaceADCread");
    EXPECT_EQ(monitor.rings[5].Count(), 2);

    // A label click hides its curve; the internal monitors go on and off together.
    QTest::mouseClick(Control<QLabel>("LabelADC3"), Qt::LeftButton);
    EXPECT_FALSE(monitor.channelEnabled[3]);
    EXPECT_TRUE(Control<QLabel>("LabelADC3")->styleSheet().contains("line-through"));
    QTest::mouseClick(Control<QLabel>("LabelADC3"), Qt::LeftButton);
    EXPECT_TRUE(monitor.channelEnabled[3]);
    Control<QCheckBox>("ChkbInternalMonitor")->click();
    EXPECT_TRUE(monitor.channelEnabled[8] && monitor.channelEnabled[12]);
    form->show();
    EXPECT_FALSE(Control<PaintBox>("PaintBoxScope")->grab().isNull());

    Press("BttnScopeClear");
    EXPECT_EQ(monitor.rings[0].Count(), 0);

    // "Monitor" lets the main timer read on its own, without lines in the message list.
    const int lines = Control<QListWidget>("ListMsg")->count();
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(true);
    ASSERT_TRUE(WaitFor([&] { return monitor.rings[0].Count() >= 3; }));
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), lines);
}

TEST_F(AnalogPanelTest, ScopeSetUpIsNormalisedAndSent) {
    const auto scope = [&] {
        std::array<int, 3> s{};
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            s = {e.Analog().ScopeMask(), e.Analog().ScopeSamples(), e.Analog().ScopeMode()};
        });
        return s;
    };
    Control<QCheckBox>("ChkbScope3")->click();  // channels 1 and 3
    EXPECT_EQ(scope(), (std::array<int, 3>{0x0A, 450, 0x0F}));
    Choose(Box("CombScopeSampling"), 1);  // "8 us/S" is code 2
    EXPECT_EQ(scope()[2], 0x0E);
    for (auto [typed, sent] : {std::pair{"5", 16},
                               {"1000", 450},
                               {"-3", 450},
                               {"99999999999", 450},
                               {"text", 450},
                               {"200", 200}}) {
        TypeInto("ComboScopeSamples", typed);
        emit Box("ComboScopeSamples")->lineEdit()->editingFinished();
        EXPECT_EQ(scope()[1], sent) << typed;
        EXPECT_EQ(Shown("ComboScopeSamples"), QString::number(sent)) << typed;
    }
    EXPECT_EQ(form->analog->analog.scopeSampleCount, 200u);
    EXPECT_EQ(form->analog->analog.scopeChannelMask, 0x0A);

    Press("BttnScopeNow");
    EXPECT_TRUE(LastLine().contains("\"Scope single shot\" executed in"))
        << LastLine().toStdString();
}

}  // namespace
}  // namespace ulvarin::test

namespace ulvarin::test {
namespace {

// Enter in a box sets what was typed, as leaving it does, and adds nothing to its list: the
// lists keep their fixed choices however often a value is typed.
TEST_F(AnalogPanelTest, TypedValuesAreSetWithoutJoiningTheLists) {
    const auto enter = [&](const char* box, const char* text) {
        QLineEdit* edit = Box(box)->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    const int biasItems = Box("CombBias")->count();
    enter("CombBias", "70");
    EXPECT_EQ(EmulatorBias(0), BiasToCode(70.0));
    EXPECT_EQ(Shown("CombBias"), QString::asprintf("%.5g V", CodeToBias(BiasToCode(70.0))));
    EXPECT_EQ(Box("CombBias")->count(), biasItems);

    const int samplesItems = Box("ComboScopeSamples")->count();
    enter("ComboScopeSamples", "5");
    EXPECT_EQ(Shown("ComboScopeSamples"), "16");
    EXPECT_EQ(Box("ComboScopeSamples")->count(), samplesItems);
    EXPECT_EQ(Box("ComboScopeSamples")->findText("5"), -1);

    const int dacItems = Box("CombDAC0")->count();
    enter("CombDAC0", "1.7");
    EXPECT_EQ(EmulatorDac(0), 2785);
    EXPECT_EQ(Shown("CombDAC0"), "1.6998 V");
    EXPECT_EQ(Box("CombDAC0")->count(), dacItems);
    // A listed choice entered is set once, by its selection.
    const auto sets = [&] {
        return Control<QListWidget>("ListMsg")
            ->findItems("\"Set interface DAC\"", Qt::MatchContains)
            .size();
    };
    const qsizetype before = sets();
    enter("CombDAC1", "1.5 V");
    EXPECT_EQ(EmulatorDac(1), 2457);
    EXPECT_EQ(sets(), before + 1);
}

}  // namespace
}  // namespace ulvarin::test
