// The screenshot path: the default interface opens, a frame is read as "Get Data" reads it,
// and the picture of the window shows it.
#include "app/screenshot.h"

#include <QDir>
#include <QImage>
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
    ASSERT_EQ(TakeScreenshot(*form, path, 2), 0);
    EXPECT_TRUE(Lines().filter("\"Read Matrix\" executed in").size() == 2);

    QImage picture(path);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(1280, 900)) << "the window fits 1280 x 900";
    // The emulator's chips count at different levels: the four quadrants differ in grey.
    const QPoint origin = form->ui.PaintBoxBitmap->mapTo(form.get(), QPoint(0, 0));
    const QRgb upperLeft = picture.pixel(origin + QPoint(10, 10));
    const QRgb lowerLeft = picture.pixel(origin + QPoint(10, 500));
    EXPECT_NE(qGray(upperLeft), qGray(lowerLeft));
}

}  // namespace
}  // namespace ulvarin::test
