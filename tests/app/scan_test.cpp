// A threshold scan through the whole window: the scan panel steps the DAC, the processes
// panel exposes each step, the image sums its frames, and the curves in the pulse view rise
// through the emulated threshold; test pulses count the number asked for.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "analog/pulse_store.h"
#include "session/run_rules.h"
#include "sim/pixel_physics.h"
#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

class ScanTest : public WindowTest {
protected:
    const PulseRecord& Curves(int slot) { return form->pulses->pulses().HistorySlot(slot); }
};

TEST_F(ScanTest, ThresholdScanOfTheQuadRisesThroughTheEmulatedThreshold) {
    StartForScan("timepix:4", 150, 190, 5);
    const sim::DacPoint midpoint =
        sim::PixelPhysics::ThresholdScanMidpoint(sim::ChipFamily::kTimepix);
    ASSERT_EQ(Control<QComboBox>("CombScanDAC")->currentIndex(), midpoint.dac);
    const uint16_t before = form->shared.dacRecords[2].dac[static_cast<size_t>(midpoint.dac)];

    Control<QPushButton>("BttnScanStart")->click();
    EXPECT_EQ(Control<QPushButton>("BttnScanStart")->text(), "Stop");
    EXPECT_FALSE(form->processes->isEnabled());
    EXPECT_TRUE(Control<QGroupBox>("GroupScan")->title().startsWith("Scanning ("));
    EXPECT_TRUE(HasLineStartingWith("Scan started: "));

    // While it runs, the bar counts the steps recorded and the image shows the last step's
    // frame (with its statistics) while the next one exposes, never an empty sum.
    auto* progress = Control<QProgressBar>("ProgressScan");
    int sampled = 0, progressWrong = 0, emptyImages = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (!form->scan->Active()) return true;
            const PulseRecord& all = Curves(0);
            if (all.Count(1) == 0) return false;
            ++sampled;
            if (progress->value() != all.Count(1) || progress->maximum() != 9 ||
                !progress->text().contains(" left"))
                ++progressWrong;
            if (all.Samples(1).back() > 0 && !form->image->Stale() &&
                form->image->shown().statistics.sum == 0)
                ++emptyImages;
            return false;
        },
        60000));
    EXPECT_GT(sampled, 0);
    EXPECT_EQ(progressWrong, 0) << progress->text().toStdString();
    EXPECT_EQ(emptyImages, 0) << "of " << sampled;
    EXPECT_EQ(progress->text(), "Done");
    EXPECT_TRUE(HasLineStartingWith("Scan finished in "));

    // Nine steps: 150, 155, ... 190, each a point of every curve.
    const PulseRecord& all = Curves(0);
    ASSERT_EQ(all.Count(0), 9);
    ASSERT_EQ(all.Count(1), 9);
    for (int chip = 1; chip <= 4; ++chip) EXPECT_EQ(Curves(chip).Count(0), 9) << chip;
    const auto median = all.Samples(0);
    const double full = median[8];
    ASSERT_GT(full, 0.0);
    EXPECT_LT(median[0], 0.1 * full);
    int crossing = -1;  // the first step at or above half the full count
    for (int k = 0; k < 9 && crossing < 0; ++k)
        if (median[static_cast<size_t>(k)] >= full / 2) crossing = 150 + 5 * k;
    EXPECT_GE(crossing, midpoint.value - 5);
    EXPECT_LE(crossing, midpoint.value + 5);
    EXPECT_TRUE(form->pulses->pulses().HistoryHoldsScan());

    // The scan is over: DACs and "Integrate pics" as before, the controls back.
    EXPECT_EQ(form->shared.dacRecords[2].dac[static_cast<size_t>(midpoint.dac)], before);
    EXPECT_EQ(EmulatorChip(0, 2).dacs.dac[static_cast<size_t>(midpoint.dac)], before);
    EXPECT_FALSE(Control<QCheckBox>("ChkbSum")->isChecked());
    EXPECT_EQ(Control<QGroupBox>("GroupScan")->title(), "Scan");
    EXPECT_EQ(Control<QPushButton>("BttnScanStart")->text(), "Start");
    EXPECT_TRUE(form->processes->isEnabled());
}

TEST_F(ScanTest, StoppingByHandRestoresAtOnceAndARunningProcessRefusesAStart) {
    StartForScan("mxr:2", 100, 200, 1);
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(form->scan->Active());
    ASSERT_TRUE(WaitFor([&] { return Curves(0).Count(0) >= 2; }, 10000));
    Control<QPushButton>("BttnScanStart")->click();
    EXPECT_FALSE(form->scan->Active());
    EXPECT_EQ(Control<QProgressBar>("ProgressScan")->text(), "Stopped");
    EXPECT_TRUE(LastLine().startsWith("Scan stopped after ")) << LastLine().toStdString();
    EXPECT_EQ(form->shared.dacRecords[1].dac[6], form->scan->settings().savedValue[1]);
    EXPECT_EQ(Curves(1).Count(0), Curves(0).Count(0)) << "two chips: records 1 and 2 too";

    // The step's process goes on to its end. Then a long process running: the scan is
    // refused with a box, nothing is stepped.
    ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }, 5000));
    Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("5"));
    form->processes->BttnStartProcessClick();
    ASSERT_TRUE(form->processes->ProcessRunning());
    const size_t boxes = dialogs->messages.size();
    Control<QPushButton>("BttnScanStart")->click();
    EXPECT_FALSE(form->scan->Active());
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    EXPECT_EQ(dialogs->messages.back().caption, "Scan Failed");
    form->processes->BttnStartProcessClick();  // stop it
}

// A pulled cable gives the step's process up, and the scan with it: nothing waits for a
// poll that cannot come.
TEST_F(ScanTest, APulledCableEndsTheScan) {
    StartForScan("mxr:1", 100, 200, 1);
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(form->scan->Active());
    emulator->SetPlugged(0, false);
    EXPECT_TRUE(WaitFor([&] { return !form->scan->Active(); }, 15000));
    EXPECT_EQ(Control<QPushButton>("BttnScanStart")->text(), "Start");
    EXPECT_TRUE(form->processes->isEnabled());
}

// An arrow steps from the number typed into its box, even before the box was left; the
// step is taken within the range, and a text that is no number steps from the position.
TEST_F(ScanTest, ArrowsStepFromTheNumberTyped) {
    Start("mxr:1");
    using D = UpDown::Direction;
    const auto step = [&](const char* box, const char* upDown, const char* typed, D direction) {
        Control<QLineEdit>(box)->setText(QString::fromUtf8(typed));
        Control<UpDown>(upDown)->Step(direction);
        return Control<QLineEdit>(box)->text().toStdString();
    };
    EXPECT_EQ(step("EditScanFrom", "UpDownScanFrom", "150", D::Up), "151");
    EXPECT_EQ(Control<UpDown>("UpDownScanFrom")->Position(), 151);
    EXPECT_EQ(step("EditScanFrom", "UpDownScanFrom", "2000", D::Up), "1023");
    EXPECT_EQ(step("EditScanFrom", "UpDownScanFrom", "abc", D::Down), "1022");
    EXPECT_EQ(step("EditScanStep", "UpDownScanStep", "7", D::Down), "6");
}

TEST_F(ScanTest, TestPulsesCountTheNumberAskedForInEveryPixel) {
    StartForScan("timepix:2", 0, 1, 1);
    auto* count = Control<QLineEdit>("EditTestPulseCount");
    count->setText(QStringLiteral("37"));
    emit count->editingFinished();
    dialogs->answers.push_back(DialogAnswer::Yes);
    Control<QPushButton>("BttnMakeTestPulses")->click();
    ASSERT_FALSE(dialogs->messages.empty());
    EXPECT_EQ(dialogs->messages.back().text, "Ready for test pulses?");
    const auto counts = form->shared.frames.counts();
    EXPECT_EQ(counts[0], 37);
    EXPECT_EQ(counts[2 * 65536 - 1], 37);
    EXPECT_EQ(form->shared.frames.config()[65536 + 5] & 0x2000, 0x2000);
    EXPECT_EQ(form->shared.dacRecords[1].testPulseWord, 0xFFFFFFFFu);

    // "No" ends before anything is generated.
    form->shared.frames.raw()[0] = 0;
    dialogs->answers.push_back(DialogAnswer::No);
    Control<QPushButton>("BttnMakeTestPulses")->click();
    EXPECT_EQ(form->shared.frames.raw()[0], 0);
}

// Medipix2 chips have no test-pulse configuration: the button only asks and generates.
TEST_F(ScanTest, TestPulsesOnMedipix2OnlyAskAndGenerate) {
    StartForScan("medipix2:1", 0, 1, 1);
    const std::vector<uint16_t> config(form->shared.frames.config().begin(),
                                       form->shared.frames.config().end());
    const uint32_t word = form->shared.dacRecords[0].testPulseWord;
    const size_t boxes = dialogs->messages.size();
    dialogs->answers.push_back(DialogAnswer::Yes);
    Control<QPushButton>("BttnMakeTestPulses")->click();
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    EXPECT_EQ(dialogs->messages.back().text, "Ready for test pulses?");
    EXPECT_EQ(form->shared.frames.counts()[0], 1000);  // the frame of the pulses is shown
    EXPECT_TRUE(std::equal(config.begin(), config.end(), form->shared.frames.config().begin()));
    EXPECT_EQ(form->shared.dacRecords[0].testPulseWord, word);
}

// The window visits the values every face scans for a range, and refuses the equalisations
// every face refuses, for the same reason.
TEST_F(ScanTest, TheWindowsRangesAndRefusalsAreTheEnginesOwn) {
    StartForScan("timepix:1", 0, 0, 1);
    struct Case {
        int from, to, step;
    };
    const Case cases[] = {{140, 200, 1}, {50, 50, 1}, {200, 140, 7}, {0, 10, 4},
                          {1023, 1023, 1}, {5, 6, 100}, {10, 12, 1}, {0, 255, 255}};
    auto* progress = Control<QProgressBar>("ProgressScan");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << ".." << c.to << " by " << c.step);
        for (auto [box, value] : {std::pair{"EditScanFrom", c.from}, {"EditScanTo", c.to},
                                  {"EditScanStep", c.step}}) {
            auto* edit = Control<QLineEdit>(box);
            edit->setText(QString::number(value));
            emit edit->editingFinished();
        }
        const ScanPlan plan = PlanScan(c.from, c.to, c.step);
        ASSERT_EQ(plan.refusal, "");

        Control<QPushButton>("BttnScanStart")->click();
        ASSERT_TRUE(form->scan->Active());
        ScanSettings scan = form->scan->settings();
        std::vector<int> visited{scan.current};
        while (AdvanceScan(scan)) visited.push_back(scan.current);
        EXPECT_EQ(visited, plan.values);
        EXPECT_EQ(progress->maximum(), static_cast<int>(plan.values.size()));
        Control<QPushButton>("BttnScanStart")->click();
        ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }));

        const size_t boxes = dialogs->messages.size();
        Control<QPushButton>("BttnEqualize")->click();
        const std::string refusal = EqualizeValuesRefusal(plan.values.size());
        EXPECT_EQ(form->scan->Equalizing(), refusal.empty());
        if (!refusal.empty()) {
            ASSERT_EQ(dialogs->messages.size(), boxes + 1);
            EXPECT_EQ(dialogs->messages.back().text.rfind(refusal, 0), 0u)
                << dialogs->messages.back().text;
            continue;
        }
        EXPECT_EQ(progress->maximum(), 3 * static_cast<int>(plan.values.size()));
        const QStringList started = Lines().filter(QStringLiteral("Equalization started: "));
        ASSERT_FALSE(started.isEmpty());
        EXPECT_TRUE(
            started.last().contains(QStringLiteral("3 scans of %1 steps").arg(plan.values.size())))
            << started.last().toStdString();
        Control<QPushButton>("BttnEqualize")->click();
        ASSERT_FALSE(form->scan->Equalizing());
        ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }));
    }
}

}  // namespace
}  // namespace ulvarin::test
