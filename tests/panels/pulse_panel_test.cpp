// The pulses and spectrum group built on its own: scope messages and simulated pulses reach
// the spectrum, the count and the history; spectrum and curve files through scripted
// dialogs with their error boxes; pulse autosave on the writer thread and its failure
// report; the two views draw only with data.
#include "panels/pulses/pulse_panel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "device/report.h"
#include "panels/shared/window_shared.h"
#include "tests/app/scripted_dialogs.h"
#include "widgets/paint_box.h"

namespace ulvarin::test {
namespace {

// The parameters of a scope data message: the count, then one big-endian word per sample
// with the channel in bits 12 to 14.
std::vector<uint8_t> ScopeMessage(const std::vector<std::pair<int, int>>& samples) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(samples.size() & 0xFF),
                                  static_cast<uint8_t>(samples.size() >> 8)};
    for (const auto& [channel, value] : samples) {
        const int word = channel << 12 | value;
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    }
    return bytes;
}

// 20 samples of 500 on channel 1 with one of `top` in the middle.
std::vector<std::pair<int, int>> BackSidePulse(int top) {
    std::vector<std::pair<int, int>> samples(20, {1, 500});
    samples[10].second = top;
    return samples;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether any pixel has the colour `rgb`, or with `other`, any colour but it.
bool HasPixel(const QImage& image, QRgb rgb, bool other = false) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (((image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF)) != other) return true;
    return false;
}

// Reports as "kind: text".
void RecordReport(MpxDevice& handle, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(handle.reportKind) +
                                                            ": " + handle.reportText);
    handle.Clear();
}

class PulsePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        InstallDialogs(dialogs);
        QObject::connect(&shared, &WindowShared::logLine,
                         [this](const QString& line) { log << line; });
    }
    void TearDown() override {
        InstallDialogs(nullptr);
        SetReportHook(nullptr, nullptr);
        QDir::setCurrent(home);
    }

    template <class T>
    T* Control(const char* name) {
        T* control = panel.findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(const char* button) { Control<QPushButton>(button)->click(); }
    QString PulseLabel() { return Control<QLabel>("LabelPulseID")->text(); }
    std::string Path(const char* name) {
        return dir.filePath(QString::fromUtf8(name)).toStdString();
    }
    const Spectrum& Bins() { return panel.pulses().GetSpectrum(); }
    int32_t BinSum() { return std::accumulate(Bins().begin(), Bins().end(), int32_t{0}); }
    QImage Grab(const char* box) { return Control<PaintBox>(box)->grab().toImage(); }

    QTemporaryDir dir;
    const QString home = QDir::currentPath();
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    WindowShared shared;
    PulsePanel panel{shared, nullptr};
    QStringList log;
};

TEST_F(PulsePanelTest, ScopeMessagesFillSpectrumCountAndHistory) {
    std::vector<std::pair<int, int>> samples = BackSidePulse(1500);
    samples.push_back({3, 95});  // inverted: 4000
    panel.TakeScopeShot(ScopeMessage(samples), 0x08);
    EXPECT_EQ(Bins()[1300], 1);  // base line 500 - 300: the top 1500 lands at 1300
    EXPECT_EQ(BinSum(), 1);
    EXPECT_EQ(PulseLabel(), "1");
    const PulseRecord& first = panel.pulses().HistorySlot(0);
    EXPECT_EQ(first.Count(1), 20);
    ASSERT_EQ(first.Count(3), 1);
    EXPECT_EQ(first.Samples(3)[0], 4000);

    Control<QCheckBox>("ChkbRestoreBaseLine")->setChecked(false);
    panel.TakeScopeShot(ScopeMessage(BackSidePulse(1500)), 0);
    EXPECT_EQ(Bins()[1500], 1);
    panel.TakeScopeShot(ScopeMessage({{2, 7}}), 0);  // no back-side samples: counted only
    EXPECT_EQ(BinSum(), 2);
    EXPECT_EQ(PulseLabel(), "3");
    EXPECT_EQ(panel.pulses().HistoryIndex(), 2);

    Control<QAction>("MenuItemPulseClear")->trigger();
    EXPECT_FALSE(panel.pulses().HistorySlot(2).HasSamples(2));
    EXPECT_EQ(BinSum(), 2);  // the spectrum stays
    Click("BttnResetSpectrum");
    EXPECT_EQ(BinSum(), 0);
    EXPECT_EQ(PulseLabel(), "0");
}

TEST_F(PulsePanelTest, SimulatedPulsesOnTickedChannelsFormAPeak) {
    panel.SetScopeChannelSource([] { return uint8_t{0x02}; });
    constexpr int kPulses = 400;
    for (int i = 0; i < kPulses; ++i) Click("BttnGenPulse");
    EXPECT_EQ(PulseLabel(), QString::number(kPulses));
    EXPECT_EQ(BinSum(), kPulses);
    const PulseRecord& last = panel.pulses().CurrentPulse();
    EXPECT_EQ(last.Count(1), 64);
    EXPECT_EQ(last.LongestCount(), 64);  // no other channel
    // Channel 1's photo-peak (1105 high, raised by the base line restore) holds most pulses.
    const SpectrumPeak peak = FindSpectrumPeak(Bins());
    EXPECT_GT(peak.bin, 1250);
    EXPECT_LT(peak.bin, 1450);
    const int32_t nearPeak =
        std::accumulate(Bins().begin() + peak.bin - 150, Bins().begin() + peak.bin + 150, 0);
    EXPECT_GT(nearPeak, kPulses / 2);

    panel.SetScopeChannelSource([] { return uint8_t{0x05}; });
    Click("BttnGenPulse");
    EXPECT_EQ(last.Count(0) + last.Count(2), 128);
    EXPECT_EQ(last.Count(1), 0);
    EXPECT_EQ(BinSum(), kPulses);  // no back-side pulse, nothing counted in the spectrum
}

TEST_F(PulsePanelTest, SpectrumFilesRoundTripAndBadFilesKeepWhatWasRead) {
    Spectrum& bins = panel.pulses().MutableSpectrum();
    for (int k = 0; k < kSpectrumBins; ++k) bins[static_cast<size_t>(k)] = k % 7;
    const Spectrum saved = bins;
    dialogs->paths.push_back(Path("saved"));
    Click("BtnSaveSpectrum");
    const FileRequest& save = dialogs->fileRequests.back();
    EXPECT_EQ(save.title + " " + save.filter + " " + save.initialName,
              "Save spectrum as ... ASCII file|*.txt|All|*.* Spectrum.txt");
    EXPECT_TRUE(save.overwritePrompt);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log.back().toStdString(), "Spectrum written to: " + Path("saved.txt"));

    Click("BttnResetSpectrum");
    dialogs->paths.push_back(Path("saved.txt"));
    Click("BtnLoadSpectrum");
    EXPECT_EQ(dialogs->fileRequests.back().title, "Open Spectrum");
    EXPECT_EQ(Bins(), saved);
    EXPECT_EQ(PulseLabel(), QString::number(BinSum()));
    EXPECT_TRUE(dialogs->messages.empty());

    const auto load = [&](const char* name, const std::string& content) {
        std::ofstream(Path(name), std::ios::binary) << content;
        dialogs->paths.push_back(Path(name));
        Click("BtnLoadSpectrum");
    };
    std::string shortFile;
    for (int k = 0; k < 100; ++k) shortFile += "9\n";
    load("short.txt", shortFile);
    EXPECT_EQ(Bins()[99], 9);
    EXPECT_EQ(Bins()[100], saved[100]);  // not read: kept
    EXPECT_EQ(PulseLabel(), "900");
    load("text.txt", "1\n2\nthree\n");
    EXPECT_EQ(Bins()[1], 2);
    EXPECT_EQ(PulseLabel(), "3");
    load("empty.txt", "");
    EXPECT_EQ(PulseLabel(), "0");
    ASSERT_EQ(dialogs->CountOf("Error - coldn't read input file"), 3);
    EXPECT_EQ(dialogs->messages[0].caption, "Error");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Error);

    dialogs->paths.push_back(Path("no_folder/saved.txt"));
    Click("BtnSaveSpectrum");
    EXPECT_EQ(dialogs->CountOf("Error - coldn't open output file"), 1);
    EXPECT_EQ(log.size(), 1);
}

TEST_F(PulsePanelTest, CurvesFileBeforeAndAfterPulses) {
    auto* save = Control<QAction>("MenuItemPulseSaveasASCII");
    EXPECT_TRUE(Control<QMenu>("PopupMenuPulse")->actions().contains(save));
    EXPECT_EQ(Control<PaintBox>("PaintBoxPulse")->contextMenuPolicy(), Qt::CustomContextMenu);
    dialogs->paths.push_back(Path("none"));
    save->trigger();  // nothing shown yet: an empty file
    const FileRequest& request = dialogs->fileRequests.back();
    EXPECT_EQ(request.title + " " + request.filter,
              "Save scope/scan data as ... Text file|*.txt|All files|*.*");
    EXPECT_EQ(ReadFile(Path("none.txt")), "");
    EXPECT_EQ(log.back().toStdString(), "Scope/scan data written to: " + Path("none.txt"));

    Control<QCheckBox>("ChkbRestoreBaseLine")->setChecked(false);
    panel.TakeScopeShot(ScopeMessage({{1, 10}, {4, 7}, {1, 20}}), 0);
    panel.TakeScopeShot(ScopeMessage({{1, 30}, {4, 8}}), 0);
    dialogs->paths.push_back(Path("dotted.dat"));
    save->trigger();
    EXPECT_EQ(ReadFile(Path("dotted.dat")), "[ADC1]\n10 20 \n30 \n\n[ADC4]\n7 \n8 \n\n");
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(PulsePanelTest, AutosaveWritesPulseFilesInOrderAndReportsFailures) {
    std::vector<std::string> reports;
    SetReportHook(RecordReport, &reports);
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    Control<QCheckBox>("ChkbAutosavePulse")->setChecked(true);
    Control<QCheckBox>("ChkbRestoreBaseLine")->setChecked(false);
    panel.TakeScopeShot(ScopeMessage({{1, 12}, {2, 3456}, {1, 34}}), 0);
    panel.TakeScopeShot(ScopeMessage({{0, 5}}), 0);
    ASSERT_TRUE(QDir().mkdir("Pulse_00003.txt"));  // a folder where the file should go
    panel.TakeScopeShot(ScopeMessage({{0, 6}}), 0);
    {
        // A panel going away first writes what is still queued.
        PulsePanel leaving(shared, nullptr);
        leaving.findChild<QCheckBox*>("ChkbAutosavePulse")->setChecked(true);
        leaving.pulses().SetPulseCount(10);  // its files are Pulse_00011.txt to 14
        for (int i = 0; i < 4; ++i) leaving.BttnGenPulseClick();
    }
    panel.WaitForAutosaves();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !reports.empty(); }, 5000));

    EXPECT_EQ(ReadFile(Path("Pulse_00001.txt")), "    12  3456\n    34     0\n");
    EXPECT_EQ(ReadFile(Path("Pulse_00002.txt")), "     5\n");
    EXPECT_EQ(ReadFile(Path("Pulse_00014.txt")).size(), 64u * 7);  // the other panel's last
    EXPECT_EQ(reports,
              std::vector<std::string>{"2: Error writing pulse 3 to file \"Pulse_00003.txt\""});
}

TEST_F(PulsePanelTest, ViewsDrawOnlyWithData) {
    panel.resize(640, 300);
    panel.show();
    EXPECT_FALSE(HasPixel(Grab("PaintBoxPulse"), qRgb(0, 0, 0), true));
    EXPECT_FALSE(HasPixel(Grab("PaintBoxSpectrum"), qRgb(0, 0, 0), true));

    for (int top : {1500, 1500, 1800}) panel.TakeScopeShot(ScopeMessage(BackSidePulse(top)), 0);
    EXPECT_TRUE(HasPixel(Grab("PaintBoxPulse"), qRgb(255, 0, 0)));  // channel 1's newest
    const QImage spectrum = Grab("PaintBoxSpectrum");
    EXPECT_TRUE(HasPixel(spectrum, qRgb(0, 128, 0)));
    EXPECT_TRUE(HasPixel(spectrum, qRgb(255, 0, 0)));  // the labels
}

}  // namespace
}  // namespace ulvarin::test
