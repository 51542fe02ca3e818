// What reaches the screen: every path that brings a new image (the shutter's keys and
// buttons, Get Data, frames of a process, a scan, a sum, a loaded file, flat field, masks,
// the range and the colours) has the image box painted again, and the window's surface
// then shows the image as it is now. The surface is read back from the window's backing
// store, which only a real paint changes; QWidget::grab() would paint afresh and show a new
// image even where no repaint was ever asked for.
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <functional>
#include <string>

#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

// Counts the paint events a widget receives for the screen (not those of a grab).
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool grabbing = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !grabbing) ++paints;
        return false;
    }
};

class ImageRepaintTest : public WindowTest {
protected:
    void Show(const std::string& set) {
        Start(set);
        form->resize(1280, 720);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        box = Control<PaintBox>("PaintBoxBitmap");
        box->installEventFilter(&counter);
        ASSERT_TRUE(ScreenShowsTheImage());
    }
    // Every emulated counter to a pattern that differs with `seed`: the next frame read
    // differs from the one before in most pixels.
    void SetCounts(int seed) {
        const int chips = static_cast<int>(form->shared.chipCount);
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            for (int c = 0; c < chips; ++c)
                for (int p = 0; p < kChipPixels; ++p)
                    e.Chip(c).counts[p] =
                        static_cast<uint16_t>(100 + (p * (seed + 3) + c * 31 + seed * 57) % 400);
        });
    }
    // The image box as the window's surface holds it now; nothing is painted for it.
    QImage OnScreen() {
        const QPoint at = box->mapTo(form.get(), QPoint(0, 0));
        return QGuiApplication::primaryScreen()
            ->grabWindow(form->winId(), at.x(), at.y(), box->width(), box->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    // The box painted afresh for the image as it is now.
    QImage Fresh() {
        counter.grabbing = true;
        const QImage fresh = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        counter.grabbing = false;
        return fresh;
    }
    // Processes events until the surface shows what a fresh paint shows (false when it
    // never does).
    bool ScreenShowsTheImage() {
        return WaitFor([&] { return !form->image->Rendering() && OnScreen() == Fresh(); });
    }

    PaintBox* box = nullptr;
    PaintCounter counter;
};

struct RepaintPath {
    const char* what;
    std::function<void()> act;
};

// The described fault: frames taken with the shutter keys or Get Data updated the
// statistics while the screen kept the picture before (the very first frame stayed black).
TEST_F(ImageRepaintTest, EveryPathThatBringsANewImageReachesTheScreen) {
    Show("timepix:4");
    int seed = 0;
    const auto newCounts = [&] { SetCounts(++seed); };
    const auto click = [&](const char* name) { Control<QPushButton>(name)->click(); };
    // The keys as the operator presses them: through the window's shortcuts.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // A key clicks its button shortly after it is pressed.
    const auto key = [&](Qt::Key k, const char* button) {
        int clicks = 0;
        const auto counted = QObject::connect(Control<QPushButton>(button), &QPushButton::clicked,
                                              [&clicks] { ++clicks; });
        QTest::keyClick(form.get(), k);
        EXPECT_TRUE(WaitFor([&] { return clicks > 0; })) << button;
        QObject::disconnect(counted);
    };
    const RepaintPath paths[] = {
        {"Get Data", [&] { newCounts(), click("BttnGetData"); }},
        {"F7", [&] { newCounts(), key(Qt::Key_F7, "BttnGetData"); }},
        {"F5 and F6",
         [&] {
             key(Qt::Key_F5, "BttnStart");
             newCounts();  // counted while the shutter was open, read on closing it
             key(Qt::Key_F6, "BttnStop");
         }},
        {"shutter buttons",
         [&] {
             click("BttnStart");
             newCounts();
             click("BttnStop");
         }},
        {"sum of frames",
         [&] {
             form->image->SetIntegrating(true);
             newCounts(), click("BttnGetData");
             newCounts(), click("BttnGetData");
         }},
        {"single frame again", [&] { form->image->SetIntegrating(false); }},
        {"flat field captured and on",
         [&] {
             newCounts(), click("BttnGetData");
             click("BttnUseAsFF");
             newCounts(), click("BttnGetData");
             Control<QCheckBox>("ChkbFF")->click();
         }},
        {"flat field off", [&] { Control<QCheckBox>("ChkbFF")->click(); }},
        {"typed range",
         [&] {
             auto* max = Control<QLineEdit>("EditRangeMax");
             Type(max, QStringLiteral("250"));
             max->setFocus();
             QTest::keyClick(max, Qt::Key_Return);
         }},
        {"range button", [&] { click("BttnRangeLess"); }},
        {"Auto on a frame with hot pixels",
         [&] {
             newCounts();
             emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
                 for (int p = 0; p < 100; ++p) e.Chip(1).counts[p * 401] = 5800;
             });
             click("BttnGetData");
             Control<QCheckBox>("ChkbRangeAuto")->click();
         }},
        {"Robust", [&] { Control<QCheckBox>("ChkbRangeRobust")->click(); }},
        {"colour map", [&] { Choose(Control<QComboBox>("ComboColourMap"), 2); }},
        {"log scale", [&] { Control<QCheckBox>("ChkbLogScale")->click(); }},
        {"view selected", [&] { Choose(Control<QComboBox>("ComboResult"), 3); }},  // mask words
        {"mask nonzero pixels",
         [&] {
             Choose(Control<QComboBox>("ComboResult"), 0);
             Control<QCheckBox>("ChkbInterpolate")->click();  // masked pixels show 0
             emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
                 for (int c = 0; c < 4; ++c)
                     for (int p = 0; p < kChipPixels; ++p)
                         e.Chip(c).counts[p] = static_cast<uint16_t>(p % 97 == 0 ? 5 : 0);
             });
             click("BttnGetData");
             click("BttnImgAsMsk");
         }},
        {"mask reset", [&] { click("BttnResMask"); }},
    };
    for (const RepaintPath& path : paths) {
        SCOPED_TRACE(path.what);
        const QImage before = OnScreen();
        const int paints = counter.paints;
        path.act();
        ASSERT_TRUE(ScreenShowsTheImage());
        EXPECT_GT(counter.paints, paints);
        EXPECT_NE(OnScreen(), before) << "the picture on the screen changed";
    }
}

// Frames a process reads out by itself are recomputed on the renderer's thread; the last
// one shown is what a fresh paint shows.
TEST_F(ImageRepaintTest, FramesOfAProcessReachTheScreen) {
    Show("timepix:1");
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
    form->basics->ChooseMode(0);
    Choose(Control<QComboBox>("CombProcessTemplate"), 3);  // multiple frames
    Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("0.02"));
    const QImage before = OnScreen();
    const int paints = counter.paints;
    Control<QPushButton>("BttnStartProcess")->click();
    ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }, 10000));
    ASSERT_TRUE(ScreenShowsTheImage());
    EXPECT_GT(counter.paints, paints);
    EXPECT_NE(OnScreen(), before);
}

// A scan sums each step's frames; its steps reach the screen as they are taken.
TEST_F(ImageRepaintTest, StepsOfAScanReachTheScreen) {
    StartForScan("timepix:4", 150, 160, 5);
    form->resize(1280, 720);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    box = Control<PaintBox>("PaintBoxBitmap");
    box->installEventFilter(&counter);
    ASSERT_TRUE(ScreenShowsTheImage());
    const QImage before = OnScreen();
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Active(); }, 60000));
    ASSERT_TRUE(ScreenShowsTheImage());
    EXPECT_NE(OnScreen(), before);
}

// A frame file loaded into the counts is shown at once.
TEST_F(ImageRepaintTest, ALoadedFrameFileReachesTheScreen) {
    Show("timepix:1");
    SetCounts(1);
    Control<QPushButton>("BttnGetData")->click();
    ASSERT_TRUE(ScreenShowsTheImage());
    QTemporaryDir folder;
    const std::string path = (folder.path() + "/frame.txt").toStdString();
    dialogs->paths.push_back(path);
    Control<QPushButton>("BttnSaveData")->click();
    SetCounts(2);
    Control<QPushButton>("BttnGetData")->click();
    ASSERT_TRUE(ScreenShowsTheImage());
    const QImage before = OnScreen();
    const int paints = counter.paints;
    dialogs->paths.push_back(path);
    Control<QPushButton>("BttnLoadData")->click();
    ASSERT_TRUE(ScreenShowsTheImage());
    EXPECT_GT(counter.paints, paints);
    EXPECT_NE(OnScreen(), before);
}

}  // namespace
}  // namespace ulvarin::test
