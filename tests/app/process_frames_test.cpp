// Processes through the whole window: the frames an interface reads out by itself arrive
// into the image and its sum, and a process stopped half-way leaves the window
// consistent.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <thread>

#include "device/link.h"

#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class ProcessFramesTest : public WindowTest {
protected:
    // "Multiple frames" (ten frames, one after the other) with exposures of `interval` s.
    void Prepare(const char* interval) {
        Start("timepix:1");
        Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
        form->basics->ChooseMode(0);
        Choose(Control<QComboBox>("CombProcessTemplate"), 3);
        Control<QComboBox>("CombInterval")->setEditText(QString::fromUtf8(interval));
    }
    // The frame numbers the message list reported, in order.
    std::vector<int> FrameIds() {
        std::vector<int> ids;
        const QRegularExpression pattern(QStringLiteral("Frame received: ID=0x([0-9a-f]{4})"));
        for (const QString& line : Lines()) {
            const auto match = pattern.match(line);
            if (match.hasMatch()) ids.push_back(match.captured(1).toInt(nullptr, 16));
        }
        return ids;
    }
};

// Frames are counted as the image takes them in: a frame read while the timer's polling
// runs with the message list off leaves no "Frame received" line, but still arrives.
TEST_F(ProcessFramesTest, TenFramesArriveIntoTheSum) {
    Prepare("0.02");
    int taken = 0;
    QObject::connect(&form->shared, &WindowShared::backgroundFrameArrived, [&] { ++taken; });
    Control<QCheckBox>("ChkbSum")->click();
    Control<QPushButton>("BttnStartProcess")->click();
    ASSERT_TRUE(form->processes->ProcessRunning());
    ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return taken >= 10; }, 2000));
    QTest::qWait(100);
    EXPECT_EQ(taken, 10);
    const std::vector<int> ids = FrameIds();  // the lines shown keep the frames' order
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_GT(ids[i], ids[i - 1]) << i;
    EXPECT_NEAR(form->shared.frames.integratedTime, 10 * 0.02, 10 * 1e-5);
    EXPECT_EQ(Control<QPushButton>("BttnStartProcess")->text(), "Start Process");
    // The image recomputed elsewhere shows the whole sum, as a recomputation here does.
    ASSERT_TRUE(WaitFor([&] { return !form->image->Rendering(); }, 2000));
    EXPECT_FALSE(form->image->Stale()) << "the last frame's image came from the renderer";
    const ImageStatistics shown = form->image->CurrentStatistics();
    const QString sumLabel = Control<QLabel>("LabelSum")->text();
    EXPECT_GT(shown.sum, 0.0);
    form->image->RequestImageRedraw();
    EXPECT_EQ(form->image->shown().statistics.sum, shown.sum);
    EXPECT_EQ(form->image->shown().statistics.standardDeviation, shown.standardDeviation);
    EXPECT_EQ(Control<QLabel>("LabelSum")->text(), sumLabel);
}

// The interface is read while the GUI thread is busy elsewhere: when it comes back, every
// frame is waiting for it, in order, and goes into the sum.
TEST_F(ProcessFramesTest, FramesReadWhileTheWindowIsBusyAreAllTakenIn) {
    Prepare("0.02");
    int taken = 0;
    QObject::connect(&form->shared, &WindowShared::backgroundFrameArrived, [&] { ++taken; });
    Control<QCheckBox>("ChkbSum")->click();
    Control<QPushButton>("BttnStartProcess")->click();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // no event is handled
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(QueueDepth(form->shared.device), 0u) << "the link was read meanwhile";
    ASSERT_TRUE(WaitFor([&] { return taken >= 10; }, 2000));
    EXPECT_NEAR(form->shared.frames.integratedTime, 10 * 0.02, 10 * 1e-5);
    const std::vector<int> ids = FrameIds();
    ASSERT_EQ(ids.size(), 10u);
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_GT(ids[i], ids[i - 1]) << i;
}

TEST_F(ProcessFramesTest, StoppingHalfWayEndsTheFramesAndTheProcess) {
    Prepare("0.2");
    int taken = 0;
    QObject::connect(&form->shared, &WindowShared::backgroundFrameArrived, [&] { ++taken; });
    Control<QPushButton>("BttnStartProcess")->click();
    ASSERT_TRUE(WaitFor([&] { return taken >= 2; }, 5000));
    Control<QPushButton>("BttnStartProcess")->click();  // "Stop Process"
    EXPECT_FALSE(form->processes->ProcessRunning());
    EXPECT_EQ(Control<QPushButton>("BttnStartProcess")->text(), "Start Process");
    QTest::qWait(100);  // a frame already on its way may still come
    const int frames = taken;
    QTest::qWait(600);
    EXPECT_EQ(taken, frames) << "no frame after the stop";
    EXPECT_LT(taken, 10);
    EXPECT_FALSE(EmulatorState(0).shutterOpen);
}

}  // namespace
}  // namespace ulvarin::test
