// The window on laptop and desktop screens: it opens within the screen's free area, frame
// included, every group is reachable at 1280 x 720 and the image scales with its room; the
// frequent actions have keys.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "app/main_layout.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

// Whether `widget` is shown and lies inside the window, at least `share` of its area seen.
bool SeenInWindow(QWidget* window, QWidget* widget, double share = 1.0) {
    if (!widget->isVisible()) return false;
    // The visible region leaves out what a scroll area or a splitter clips away.
    const QRect visible = widget->visibleRegion().boundingRect();
    const QRect seen =
        QRect(widget->mapTo(window, visible.topLeft()), visible.size()).intersected(window->rect());
    return !seen.isEmpty() &&
           seen.width() * seen.height() >= share * widget->width() * widget->height();
}

QScreen* ScreenSized(int width, int height) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->geometry().size() == QSize(width, height)) return screen;
    return nullptr;
}

TEST(WindowFitTest, TheFrameFitsTheScreensFreeArea) {
    const QSize start(kStartWidth, kStartHeight);
    const QSize minimum(640, 480);
    const QMargins openbox(1, 24, 1, 1);
    struct Case {
        const char* what;
        QRect window;
        QMargins frame;
        QRect available;
        QRect fitted;
    };
    const Case cases[] = {
        {"a laptop: smaller, the frame at the corner",
         {QPoint(0, 0), start},
         openbox,
         {0, 0, 1280, 720},
         {1, 24, 1278, 695}},
        {"1366 x 768: the start size stays",
         {QPoint(10, 0), start},
         {1, 26, 1, 1},
         {0, 0, 1366, 768},
         {QPoint(10, 26), start}},
        {"a panel on top: below it",
         {200, 100, 1000, 800},
         {},
         {0, 32, 1280, 688},
         {200, 32, 1000, 688}},
        {"inside already: unchanged",
         {100, 100, 800, 600},
         {2, 2, 2, 2},
         {0, 0, 1920, 1080},
         {100, 100, 800, 600}},
        {"past the right and bottom edges: moved back",
         {1500, 700, 800, 600},
         {2, 2, 2, 2},
         {0, 0, 1920, 1080},
         {1118, 478, 800, 600}},
        {"a second screen to the right",
         {QPoint(1300, 900), start},
         openbox,
         {1920, 0, 1280, 720},
         {1921, 24, 1278, 695}},
        {"too small a screen: the minimum, top left kept in view",
         {QPoint(50, 50), start},
         openbox,
         {0, 0, 600, 400},
         {QPoint(1, 24), minimum}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitIntoArea(c.window, c.frame, c.available, minimum), c.fitted) << c.what;
}

// On a laptop's 1280 x 720 screen the window and its frame open within the screen, with the
// top bar's buttons and the message list in view; on a desktop's the start size stays.
TEST_F(WindowTest, TheWindowOpensWithinTheScreen) {
    QScreen* laptop = ScreenSized(1280, 720);
    QScreen* desktop = ScreenSized(1920, 1080);
    if (laptop == nullptr || desktop == nullptr) GTEST_SKIP() << "the tests' offscreen screens";
    MakeWindow("");
    form->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->size(), QSize(kStartWidth, kStartHeight));
    EXPECT_TRUE(desktop->availableGeometry().contains(form->frameGeometry()));
    form.reset();

    form = std::make_unique<TFormUlvarin>();
    form->setScreen(laptop);
    form->move(laptop->geometry().topLeft() + QPoint(40, 30));
    form->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(laptop->availableGeometry().contains(form->frameGeometry()))
        << form->frameGeometry().x() << "," << form->frameGeometry().y() << " "
        << form->frameGeometry().width() << "x" << form->frameGeometry().height();
    for (const char* button : {"BttnClose", "BttnLoadConfig", "BttnTerminal"})
        EXPECT_TRUE(SeenInWindow(form.get(), Control<QPushButton>(button))) << button;
    EXPECT_TRUE(SeenInWindow(form.get(), Control<QListWidget>("ListMsg")));
    EXPECT_TRUE(SeenInWindow(form.get(), Control<QScrollArea>("ScrollControls")));
}

TEST_F(WindowTest, ALaptopSizedWindowShowsImageStatisticsAndMessages) {
    Start("timepix:4");
    form->show();
    form->resize(1280, 720);
    QCoreApplication::processEvents();
    EXPECT_LE(form->minimumSizeHint().width(), 1280);
    EXPECT_LE(form->minimumSizeHint().height(), 720);
    ASSERT_EQ(form->size(), QSize(1280, 720));
    EXPECT_TRUE(SeenInWindow(form.get(), Control<PaintBox>("PaintBoxBitmap")));
    EXPECT_GT(form->image->ImagePlacement().width, 300) << "the image keeps a useful size";
    EXPECT_TRUE(SeenInWindow(form.get(), Control<PaintBox>("PaintBoxHistogram")));
    for (const char* label : {"LabelRange", "LabelSum", "LabelAverage", "LabelMedian"})
        EXPECT_TRUE(SeenInWindow(form.get(), Control<QLabel>(label))) << label;
    EXPECT_TRUE(SeenInWindow(form.get(), Control<QListWidget>("ListMsg")));
    EXPECT_GE(Control<QListWidget>("ListMsg")->height(), 80) << "several lines of messages";

    // Controls below the fold are reached by scrolling their area.
    auto* scroll = Control<QScrollArea>("ScrollControls");
    auto* pulses = Control<QWidget>("GroupPulses");
    scroll->ensureWidgetVisible(pulses);
    QCoreApplication::processEvents();
    EXPECT_TRUE(SeenInWindow(form.get(), pulses, 0.5));
}

// Scrolling the controls with the pointer over a box scrolls past it: no count, DAC or list
// changes until the box is clicked or tabbed into; then the wheel steps it.
TEST_F(WindowTest, TheWheelScrollsPastBoxesAndStepsOnlyAFocusedOne) {
    Start("timepix:4");
    form->show();
    form->resize(1280, 720);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    auto* scroll = Control<QScrollArea>("ScrollControls");
    auto* count = Control<QLineEdit>("EditTestPulseCount");
    auto* from = Control<QLineEdit>("EditScanFrom");
    auto* dac = Control<QComboBox>("CombScanDAC");
    auto* interval = Control<QComboBox>("CombInterval");
    const auto wheelUp = [](QWidget* box) {
        QWheelEvent wheel(QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(box, &wheel);
    };
    QScrollBar* bar = scroll->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the controls scroll at 1280 x 720";
    const QString countBefore = count->text(), fromBefore = from->text();
    const int dacBefore = dac->currentIndex();
    const QString intervalBefore = interval->currentText();
    for (QWidget* box : std::initializer_list<QWidget*>{count, from, dac, interval}) {
        bar->setValue(bar->maximum());
        wheelUp(box);
        EXPECT_LT(bar->value(), bar->maximum()) << box->objectName().toStdString();
    }
    EXPECT_EQ(count->text(), countBefore);
    EXPECT_EQ(from->text(), fromBefore);
    EXPECT_EQ(dac->currentIndex(), dacBefore);
    EXPECT_EQ(interval->currentText(), intervalBefore);

    count->setFocus();
    ASSERT_TRUE(count->hasFocus());
    const int scrolled = bar->value();
    wheelUp(count);
    EXPECT_EQ(count->text(), QString::number(countBefore.toInt() + 1));
    EXPECT_EQ(bar->value(), scrolled) << "a focused box takes the wheel itself";
}

TEST_F(WindowTest, FrequentActionsHaveKeysNamedInTheirHints) {
    Start("medipix2:1");
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // A key presses its button as a click would, shortly after.
    const auto press = [&](Qt::Key key, const char* line) {
        QTest::keyClick(form.get(), key);
        return WaitFor([&] { return LastLine().contains(QString::fromUtf8(line)); }, 5000);
    };
    EXPECT_TRUE(press(Qt::Key_F5, "Open shutter")) << LastLine().toStdString();
    EXPECT_TRUE(EmulatorState(0).shutterOpen);
    EXPECT_TRUE(press(Qt::Key_F6, "read matrix")) << LastLine().toStdString();
    EXPECT_FALSE(EmulatorState(0).shutterOpen);
    EXPECT_TRUE(press(Qt::Key_F8, "\"Erase Matrix\" executed")) << LastLine().toStdString();
    EXPECT_TRUE(press(Qt::Key_F7, "\"Read Matrix\" executed")) << LastLine().toStdString();
    EXPECT_TRUE(press(Qt::Key_F9, "\"Set DACs\" executed")) << LastLine().toStdString();
    for (auto [button, key] : {std::pair{"BttnStart", "(F5)"},
                               {"BttnStop", "(F6)"},
                               {"BttnGetData", "(F7)"},
                               {"BttnResetMatrix", "(F8)"},
                               {"BttnSetDACs", "(F9)"}})
        EXPECT_TRUE(Control<QPushButton>(button)->toolTip().endsWith(key)) << button;
}

}  // namespace
}  // namespace ulvarin::test
