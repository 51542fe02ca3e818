// Runs the window tests inside one QApplication, offscreen unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <clocale>

#include "standard_drivers/standard_drivers.h"

namespace {

// The offscreen screens: a desktop's, which the window's start size fits, and a laptop's
// beside it for the tests of a window opened on a small screen. The file stays while the
// tests run, for the programs they start.
bool UseTestScreens(const QTemporaryDir& folder) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && platform != "offscreen") return false;
    const QString path = folder.filePath(QStringLiteral("screens.json"));
    QFile file(path);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly)) return false;
    file.write(R"({"windowFrameMargins": true, "screens": [
        {"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1080,
         "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "laptop", "x": 1920, "y": 0, "width": 1280, "height": 720,
         "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir screens;
    if (!UseTestScreens(screens) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ulvarin::RegisterStandardDrivers();  // as the program does
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // as the program does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
