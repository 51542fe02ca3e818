// The screenshot path: the default interface opens, frames are exposed with the shutter
// buttons, and the picture of the window shows the last one with the chip numbers.
#include "app/screenshot.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>

#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

TEST_F(WindowTest, ScreenshotShowsTheFrameRead) {
    MakeWindow("timepix:4");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("window.png");
    ASSERT_EQ(TakeScreenshot(*form, path, 2, folder.filePath("frames")), 0);
    EXPECT_TRUE(QFile::exists(folder.filePath("frames/frame_0000.txt")));
    EXPECT_TRUE(QFile::exists(folder.filePath("frames/frame_0001.txt")));
    EXPECT_EQ(
        Lines().filter("\"Close shutter, interval measure stop, read matrix\" performed OK").size(),
        2);
    EXPECT_GT(form->image->shown().statistics.sum, 0.0);
    for (QLabel* number : NumberLabels()) EXPECT_TRUE(number->isVisible());

    QImage picture(path);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(1280, 720)) << "the picture shows a laptop-sized window";
    // The exposure lights the image: no longer the black of an empty box.
    const Placement placed = form->image->ImagePlacement();
    const QPoint origin = Control<PaintBox>("PaintBoxBitmap")->mapTo(form.get(), QPoint(0, 0)) +
                          QPoint(placed.left, placed.top);
    int lit = 0;
    for (int y = 10; y < placed.height; y += placed.height / 12)
        lit += qGray(picture.pixel(origin + QPoint(placed.width / 8, y))) > 40;
    EXPECT_GT(lit, 6);
}

}  // namespace
}  // namespace ulvarin::test
