// A long run of the window whose frames stop coming is ended, not shown running for ever.
// Two faults of the emulated interface: its interval timer hangs in the middle of a scan's
// or an equalisation's step (the interface answers, the step never ends), or its link falls
// silent while a process of many frames runs with the ADCs read on every tick (the window's
// periodic reads then rest, so nothing but the process's own watch can end it). The run's
// last line says why; a scan or an equalisation puts back what it changed.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <chrono>
#include <ostream>

#include "sim/link_model.h"
#include "sim/process_engine.h"
#include "tests/app/window_fixture.h"
#include "wire/pixel_config.h"

namespace ulvarin::test {
namespace {

enum class Run { kScan, kEqualization, kProcess };

struct StallCase {
    const char* name;
    const char* set;
    Run run;
    int from, to, step;
    int steps;  // steps of the whole run (scan and equalisation)
    const char* linePrefix;
    const char* lineEnd;
};

// The scan and the equalisation hang at their third step (0.1 s exposures), the process
// falls silent after its third frame (0.05 s) and is given up.
const StallCase kCases[] = {
    {"Scan", "mxr:1", Run::kScan, 100, 200, 1, 101, "Scan stopped: no frame for ",
     " at step 3 of 101 (exposure 0.1 s); 2 of 101 steps taken in "},
    {"Equalization", "timepix:1", Run::kEqualization, 490, 590, 5, 63,
     "Equalization stopped: no frame for ",
     " at step 3 of 63 (exposure 0.1 s); pixel configuration and DACs restored"},
    {"Process", "timepix:1", Run::kProcess, 0, 1, 1, 0, "Process given up: no frame for ",
     " (exposure 0.05 s), and the interface did not take the stop"},
};

void PrintTo(const StallCase& c, std::ostream* out) {
    *out << c.name;
}

class StalledRunTest : public WindowTest, public ::testing::WithParamInterface<StallCase> {
protected:
    // The exposure under way never ends: the interval timer is loaded with about 15 hours.
    void HangIntervalTimer() {
        emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
            sim::ProcessEngine& process = e.Process();
            const auto now = sim::Clock::now();
            process.SetupInterval(uint64_t{1} << 40, process.Interval(now).actions);
            process.StartInterval(now);
        });
    }
    void SilenceLink() {
        emulator->WithLink(0, [](sim::LinkModel& link) {
            link.StallUntil(sim::Clock::now() + std::chrono::seconds(30));
        });
    }
};

TEST_P(StalledRunTest, ARunWithoutFramesEndsWithALineAndPutsBackWhatItChanged) {
    const StallCase& c = GetParam();
    StartForScan(c.set, c.from, c.to, c.step);
    if (c.run == Run::kProcess) {
        Choose(Control<QComboBox>("CombProcessTemplate"), 3);  // "Multiple frames"
        Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("0.05"));
        Control<QLineEdit>("EditRepeat")->setText(QStringLiteral("0"));  // until stopped
        // The first read into the silence waits out its deadline, and from then on the
        // window's periodic reads, the process's polls among them, rest.
        Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(true);
    }
    if (c.run == Run::kScan) {
        // With "Eq. bits" at a value the scan changes the pixel configuration too.
        Choose(Control<QComboBox>("CombScanBits"), 2 + 5);
    }
    const int dac = Control<QComboBox>("CombScanDAC")->currentIndex();
    const uint16_t dacBefore = form->shared.dacRecords[0].dac[static_cast<size_t>(dac)];
    const std::vector<uint16_t> wordsBefore = WindowWords();
    const size_t boxes = dialogs->messages.size();

    int counted = 0;
    if (c.run == Run::kProcess) {
        // Out of the handler that took the frame in, which may be a poll of the timer's.
        QObject::connect(&form->shared, &WindowShared::backgroundFrameArrived, form.get(), [&] {
            if (++counted == 3) QTimer::singleShot(0, form.get(), [&] { SilenceLink(); });
        });
        Control<QPushButton>("BttnStartProcess")->click();
        ASSERT_TRUE(form->processes->ProcessRunning());
    } else {
        // Connected after the window's own connection: the step's process has started.
        QObject::connect(form->scan, &ScanPanel::processWanted, form.get(), [&] {
            if (++counted == 3) HangIntervalTimer();
        });
        Control<QPushButton>(c.run == Run::kScan ? "BttnScanStart" : "BttnEqualize")->click();
        ASSERT_TRUE(form->scan->Active());
    }
    const auto running = [&] {
        return c.run == Run::kProcess ? form->processes->ProcessRunning() : form->scan->Active();
    };
    ASSERT_TRUE(WaitFor([&] { return counted >= 3; }, 20000));
    ASSERT_TRUE(WaitFor([&] { return !running(); }, 20000))
        << Lines().join(QLatin1Char('\n')).toStdString();

    const QString line = LastLine();
    EXPECT_TRUE(line.startsWith(QString::fromUtf8(c.linePrefix))) << line.toStdString();
    EXPECT_TRUE(line.contains(QString::fromUtf8(c.lineEnd))) << line.toStdString();
    const QRegularExpression silence(QStringLiteral("no frame for (\\d+\\.\\d) s"));
    const auto match = silence.match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    EXPECT_GE(match.captured(1).toDouble(), 5.0) << "twice the exposure and the margin";
    EXPECT_EQ(Control<QPushButton>("BttnStartProcess")->text(), "Start Process");

    if (c.run == Run::kProcess) {
        emulator->WithLink(0, [](sim::LinkModel& link) { link.Reset(); });
        return;
    }
    // Stopped on the interface, and everything put back without a complaint.
    EXPECT_EQ(dialogs->messages.size(), boxes) << dialogs->messages.back().text;
    EXPECT_FALSE(EmulatorState(0).shutterOpen);
    emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
        EXPECT_FALSE(e.Process().Interval(sim::Clock::now()).running);
    });
    EXPECT_EQ(form->shared.dacRecords[0].dac[static_cast<size_t>(dac)], dacBefore);
    EXPECT_EQ(EmulatorChip(0, 0).dacs.dac[static_cast<size_t>(dac)], dacBefore);
    EXPECT_EQ(WindowWords(), wordsBefore);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    EXPECT_EQ(Control<QPushButton>("BttnScanStart")->text(), "Start");
    EXPECT_EQ(Control<QPushButton>("BttnEqualize")->text(), "Equalize");
    EXPECT_TRUE(form->processes->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Runs, StalledRunTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace ulvarin::test
