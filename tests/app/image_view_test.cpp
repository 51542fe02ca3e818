// Looking into the image as the operator does: the wheel zooms towards the pointer, a drag
// moves the zoomed image, the status line names the pixel that is drawn under the pointer,
// colour maps and the log scale recolour it, and a region drawn over it shows the
// statistics of its pixels.
#include "imaging/image_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <set>
#include <string>

#include "imaging/colour_map.h"
#include "imaging/image_colouring.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

// Counts that differ between neighbouring pixels in both directions and between chips, all
// within 0..255 so that with the range 0..255 each count is its own grey level.
int CountAt(int chip, int column, int row) {
    return (chip * 50 + column * 7 + row * 13) % 256;
}

class ImageViewTest : public WindowTest {
protected:
    void SetUp() override {
        Start("timepix:4");
        ASSERT_EQ(form->shared.chipCount, 4u);
        SetCounts(0);
        form->resize(1280, 720);
        form->show();
        QCoreApplication::processEvents();
        box = Control<PaintBox>("PaintBoxBitmap");
        form->image->SetTypedRange(0, 255);
    }
    // Every emulated counter to CountAt plus `offset`, then a frame read.
    void SetCounts(int offset) {
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            for (int c = 0; c < 4; ++c)
                for (int p = 0; p < kChipPixels; ++p)
                    e.Chip(c).counts[p] =
                        static_cast<uint16_t>(CountAt(c, p % 256, p / 256) + offset);
        });
        Control<QPushButton>("BttnGetData")->click();
    }
    void Wheel(QPoint at, int angle) {
        QWheelEvent wheel(at, box->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(box, &wheel);
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QMouseEvent event(type, at, box->mapToGlobal(at), button, held, modifiers);
        QCoreApplication::sendEvent(box, &event);
    }
    void Drag(QPoint from, QPoint to, Qt::MouseButton button,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        Mouse(QEvent::MouseButtonPress, from, button, button, modifiers);
        Mouse(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button, modifiers);
        Mouse(QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
        Mouse(QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
    }
    QString PointedAt(QPoint at) {
        Mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        return Control<QLabel>("LabelPixelInfo")->text();
    }
    std::optional<PointedPixel> Pixel(QPoint at) {
        return PixelAtPoint(form->image->ImageTransform(), at.x(), at.y(),
                            form->shared.frames.layout());
    }
    static double Count(const PointedPixel& p, int offset = 0) {
        return CountAt(p.chip(), p.column(), p.row()) + offset;
    }
    // What the box shows at `at`, as the operator would see it.
    uint32_t Drawn(QPoint at) { return box->grab().toImage().pixel(at) | 0xFF000000u; }
    std::string Text(const char* label) { return Control<QLabel>(label)->text().toStdString(); }

    PaintBox* box = nullptr;
};

TEST_F(ImageViewTest, TheWheelZoomsTowardsThePointerAndTheNamedPixelIsTheOneDrawn) {
    const Placement fit = form->image->ImagePlacement();
    ASSERT_GT(fit.width, 300);
    // Points over each chip, one near the image's edge.
    const QPoint points[] = {{fit.left + fit.width / 5, fit.top + fit.height / 3},
                             {fit.left + fit.width * 3 / 4, fit.top + fit.height / 7},
                             {fit.left + fit.width / 3, fit.top + fit.height * 5 / 6},
                             {fit.left + fit.width - 2, fit.top + fit.height - 2}};
    for (const QPoint at : points) {
        form->image->BttnResetZoomClick();
        const QString named = PointedAt(at);
        ASSERT_FALSE(named.isEmpty());
        // In by notches and by touch-pad fractions, then partly out again.
        for (int angle : {120, 120, 120, 40, 240, 360, -120, 15, -240}) {
            Wheel(at, angle);
            ASSERT_TRUE(form->image->Zoom().zoomed());
            EXPECT_EQ(PointedAt(at).toStdString(), named.toStdString())
                << "zoom " << form->image->Zoom().factor;
        }
        // The line names the pixel whose grey level is drawn there, and its neighbours' differ.
        const std::optional<PointedPixel> pixel = Pixel(at);
        ASSERT_TRUE(pixel);
        EXPECT_TRUE(named.endsWith(QStringLiteral("value %1").arg(Count(*pixel))));
        EXPECT_EQ(Drawn(at), PixelColour(Count(*pixel), {0, 255}));
    }
    // Pixels as blocks of many box pixels: across a few blocks, every box pixel is drawn in
    // the colour of the pixel named there.
    const QPoint at = points[0];
    Wheel(at, 8 * 120);
    ASSERT_GT(form->image->ImageTransform().width / 512, 10);
    const QImage picture = box->grab().toImage();
    std::set<uint32_t> crossed;
    for (int dx = -30; dx <= 30; ++dx) {
        const QPoint p = at + QPoint(dx, dx / 2);
        const std::optional<PointedPixel> pixel = Pixel(p);
        ASSERT_TRUE(pixel);
        crossed.insert(pixel->pixel);
        EXPECT_EQ(picture.pixel(p) | 0xFF000000u, PixelColour(Count(*pixel), {0, 255})) << dx;
    }
    EXPECT_GE(crossed.size(), 4u);

    // A drag moves the zoomed image with the pointer: the pixel follows it.
    const QString before = PointedAt(at);
    Drag(at, at + QPoint(-60, 25), Qt::LeftButton);
    EXPECT_EQ(PointedAt(at + QPoint(-60, 25)).toStdString(), before.toStdString());
    // Other colour maps and the log scale colour the same pixel under the pointer.
    const QPoint here = at + QPoint(-60, 25);
    const double value = Count(*Pixel(here));
    Choose(Control<QComboBox>("ComboColourMap"), static_cast<int>(ColourMap::Viridis));
    EXPECT_EQ(Drawn(here), Colourer({0, 255}, {ColourMap::Viridis, false})(value));
    Control<QCheckBox>("ChkbLogScale")->click();
    EXPECT_EQ(Drawn(here), Colourer({0, 255}, {ColourMap::Viridis, true})(value));
    EXPECT_NE(Drawn(here), Colourer({0, 255}, {ColourMap::Viridis, false})(value));
    EXPECT_EQ(Text("LabelRange"), "0-255") << "colours change nothing but colours";
    // A double click fits the whole image again.
    Mouse(QEvent::MouseButtonDblClick, here, Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(form->image->Zoom().zoomed());
}

TEST_F(ImageViewTest, ARegionDrawnOverTheZoomedImageShowsTheStatisticsOfItsPixels) {
    const Placement fit = form->image->ImagePlacement();
    const QPoint centre(fit.left + fit.width / 2, fit.top + fit.height / 2);
    for (int i = 0; i < 4; ++i) Wheel(centre, 120);  // about 2.4 x, across four chips
    // Shift+drag draws it; its pixels are those drawn inside its outline, whichever way the
    // pointer went.
    const QPoint from = centre + QPoint(37, 31), to = centre - QPoint(41, 29);
    Drag(from, to, Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_TRUE(form->image->Region());
    const auto outlined = [&] {
        return BoxRectOf(form->image->ImageTransform(), *form->image->Region());
    };
    EXPECT_EQ(Pixel({outlined().left, outlined().top})->pixel, Pixel(to)->pixel);
    EXPECT_EQ(Pixel({outlined().right, outlined().bottom})->pixel, Pixel(from)->pixel);
    const auto expectStatisticsOfOutlinedPixels = [&](int offset) {
        const BoxRect outline = outlined();
        std::set<uint32_t> pixels;
        std::set<int> chips;
        double sum = 0, squares = 0;
        for (int y = outline.top; y <= outline.bottom; ++y) {
            for (int x = outline.left; x <= outline.right; ++x) {
                const std::optional<PointedPixel> p = Pixel({x, y});
                ASSERT_TRUE(p);
                if (!pixels.insert(p->pixel).second) continue;
                chips.insert(p->chip());
                const double v = Count(*p, offset);
                sum += v;
                squares += v * v;
            }
        }
        EXPECT_EQ(chips.size(), 4u);
        const double n = static_cast<double>(pixels.size());
        const double mean = sum / n;
        EXPECT_EQ(Text("LabelRegionCount"), std::to_string(pixels.size()));
        EXPECT_EQ(Text("LabelRegionSum"), QString::number(sum, 'g', 15).toStdString());
        EXPECT_NEAR(std::stod(Text("LabelRegionAverage")), mean, 1e-5 * mean);  // 6 digits
        EXPECT_NEAR(std::stod(Text("LabelRegionStdDev")), std::sqrt(squares / n - mean * mean),
                    1e-4);
    };
    expectStatisticsOfOutlinedPixels(0);
    // The same pixels after zooming in further; a new frame renews the numbers.
    const std::string count = Text("LabelRegionCount");
    Wheel(centre, 240);
    EXPECT_EQ(Text("LabelRegionCount"), count);
    SetCounts(3);
    expectStatisticsOfOutlinedPixels(3);
    // The whole image's statistics are as they were without a region.
    EXPECT_EQ(Text("LabelRange"), "3-258");
    // A right-drag draws a new one; Clear region removes it.
    Drag(centre, centre + QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(form->image->Region()->left, Pixel(centre)->imageX);
    EXPECT_NE(Text("LabelRegion"), "none");
    Control<QPushButton>("BttnClearRegion")->click();
    EXPECT_FALSE(form->image->Region());
    EXPECT_EQ(Text("LabelRegion"), "none");
    EXPECT_EQ(Text("LabelRegionSum"), "-");
}

// Seen whole inside the window.
bool Seen(QWidget* window, QWidget* widget) {
    const QRect visible = widget->visibleRegion().boundingRect();
    return widget->isVisible() && visible.size() == widget->size() &&
           window->rect().contains(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()));
}

TEST_F(ImageViewTest, TheNewControlsAndWholeRangeLimitsFitLaptopScreens) {
    // A limit of six digits is shown whole: the box's right end lies past its last digit.
    const auto expectWholeLimits = [&](const char* when) {
        for (const char* name : {"EditRangeMin", "EditRangeMax"}) {
            auto* edit = Control<QLineEdit>(name);
            edit->setText(QStringLiteral("314800"));
            edit->setCursorPosition(0);
            const QPoint end(edit->width() - 3, edit->height() / 2);
            EXPECT_EQ(edit->cursorPositionAt(end), edit->text().size())
                << name << " " << when << ": " << edit->width() << " pixels";
        }
    };
    for (const QSize size : {QSize(1366, 768), QSize(1280, 720)}) {
        form->resize(size);
        QCoreApplication::processEvents();
        for (const char* name :
             {"ComboColourMap", "ChkbLogScale", "BttnResetZoom", "BttnClearRegion", "LabelRegion",
              "LabelRegionSum", "LabelRegionCount", "LabelRegionAverage", "LabelRegionStdDev",
              "EditRangeMin", "EditRangeMax"})
            EXPECT_TRUE(Seen(form.get(), Control<QWidget>(name))) << name << " " << size.width();
        EXPECT_GT(form->image->ImagePlacement().width, 300);
        expectWholeLimits("fitted");
    }
    // The image side dragged as narrow as it goes.
    auto* splitter = Control<QSplitter>("SplitterImage");
    splitter->setSizes({0, splitter->width()});
    QCoreApplication::processEvents();
    expectWholeLimits("squeezed");
}

}  // namespace
}  // namespace ulvarin::test
