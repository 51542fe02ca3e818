// Scope shots of the emulated interface through the whole window: the analog panel sets the
// bias and the scope up and fires the shots, the background messages carry the samples to
// the pulse view and the spectrum, by the main timer or the monitoring thread.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <thread>

#include "analog/pulse_heights.h"
#include "device/monitor.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class ScopePulsesTest : public WindowTest {
protected:
    void SetUp() override {
        Start("timepix:1");
        Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
    }
    int32_t Pulses() { return form->pulses->pulses().PulseCount(); }
    // One manual shot, drained at once instead of on the next tick of the main timer.
    void Shoot() {
        const int32_t before = Pulses();
        form->messages->log()->logEnabled = false;
        form->analog->BttnScopeNowClick();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (Pulses() == before && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            QCoreApplication::processEvents();  // the reader hands the shot over as an event
        }
        form->messages->log()->logEnabled = true;
    }
};

// At 100 V the emulated photo-peak stands 2185 codes above the base line, with an FWHM of
// about 80 codes; base line restore puts the base line at 300.
TEST_F(ScopePulsesTest, EmulatedShotsFillTheSpectrumAroundThePhotoPeak) {
    Control<QComboBox>("CombBias")->setEditText(QStringLiteral("100"));
    Control<QPushButton>("BttnSetBias")->click();
    form->analog->ChkbScope0Click();  // channel 1 only, 450 samples of 2 us
    ASSERT_EQ(Pulses(), 0);
    constexpr int kShots = 2500;
    for (int i = 0; i < kShots; ++i) Shoot();
    ASSERT_EQ(Pulses(), kShots);

    const SpectrumPeak peak = FindSpectrumPeak(form->pulses->pulses().GetSpectrum());
    EXPECT_NEAR(peak.bin, 2185 + 300, 80);
    ASSERT_TRUE(peak.fwhmFound);
    EXPECT_GT(peak.fwhm, 0.0);
    EXPECT_LT(peak.fwhm, 200.0);
    // The tail below the peak holds a quarter of the pulses.
    const Spectrum& spectrum = form->pulses->pulses().GetSpectrum();
    int below = 0;
    for (int bin = 300; bin < 2185 + 300 - 200; ++bin) below += spectrum[bin];
    EXPECT_NEAR(below, kShots / 4, kShots / 10);
    // The pulse view holds the newest shot: 450 samples on channel 1 only.
    const PulseRecord* shown = form->pulses->pulses().ShownRecord();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->Count(1), 450);
    EXPECT_EQ(shown->Count(0), 0);
    EXPECT_EQ(Control<QLabel>("LabelPulseID")->text(), QString::number(kShots));

    // A new scope set-up starts the history and the count again, the spectrum stays.
    Control<QCheckBox>("ChkbScope2")->click();
    EXPECT_EQ(Pulses(), 0);
    EXPECT_FALSE(form->pulses->pulses().ShownRecord()->HasSamples(1));
    Shoot();
    EXPECT_EQ(form->pulses->pulses().ShownRecord()->Count(2), 450);
    EXPECT_EQ(FindSpectrumPeak(form->pulses->pulses().GetSpectrum()).bin, peak.bin);
}

// With "just errors" the monitoring thread reads the interface: the shots it receives are
// handed to the window's thread in order, and the inverted channel arrives inverted.
TEST_F(ScopePulsesTest, ShotsReadByTheMonitoringThreadReachThePulseView) {
    Control<QCheckBox>("ChkbScopeInv1")->setChecked(true);
    form->analog->ChkbScope0Click();
    Control<QCheckBox>("ChkbMessagesShowJustErrors")->click();
    ASSERT_TRUE(WaitFor([] { return IsMonitorRunning(); }));
    for (int i = 1; i <= 20; ++i) {
        form->analog->BttnScopeNowClick();
        ASSERT_TRUE(WaitFor([&] { return Pulses() == i; }, 2000)) << i;
    }
    // Inverted, the pulse dips from a base line near 4095 - 81; restored, its median sits at
    // 300 and its deepest point is the height counted.
    const PulseRecord* shown = form->pulses->pulses().ShownRecord();
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(shown->Count(1), 450);
    const auto samples = shown->Samples(1);
    EXPECT_NEAR(*std::max_element(samples.begin(), samples.end()), 300 + 4, 10);
    Control<QCheckBox>("ChkbMessagesShowJustErrors")->click();
    EXPECT_TRUE(WaitFor([] { return !IsMonitorRunning(); }));
}

}  // namespace
}  // namespace ulvarin::test
