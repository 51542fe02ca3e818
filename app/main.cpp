// The program: one main window on the default interface. With --screenshot FILE it renders
// the window to a PNG instead of running interactively (see screenshot.h).
#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <clocale>
#include <cstdio>
#include <exception>

#include "app/form_ulvarin.h"
#include "app/screenshot.h"
#include "standard_drivers/standard_drivers.h"
#include "base/program_version.h"
#include "config/program_folder.h"
#include "widgets/dialogs.h"

namespace {

constexpr const char* kTitle = "Ulvarin interface tester";

// Shows what escapes an event handler in a box instead of ending the program.
class Application : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ulvarin::CurrentDialogs().Error(error.what(), kTitle);
        } catch (...) {
            ulvarin::CurrentDialogs().Error("", kTitle);
        }
        return false;
    }
};

struct Options {
    QString screenshot;
    int frames = 1;
    QString framesFolder;  // where the exposed frames are written, if anywhere
    int width = 1280;      // of the picture
    int height = 720;
    ulvarin::Scene scene = ulvarin::Scene::Pulses;
    bool valid = true;
    QString error;  // why the options were refused, when one says more than the usage
};

// A picture's side: from a small window's to what a large screen shows; beyond it the
// picture alone would take gigabytes.
constexpr int kMinSide = 200, kMaxSide = 8192;
// Frames exposed for a picture: each takes a fraction of a second.
constexpr int kMaxFrames = 1000;

// "WIDTHxHEIGHT", each from kMinSide to kMaxSide pixels.
bool ReadSize(const QString& text, Options& options) {
    const QStringList parts = text.split(QLatin1Char('x'));
    bool wide = false, high = false;
    if (parts.size() == 2) {
        options.width = parts[0].toInt(&wide);
        options.height = parts[1].toInt(&high);
    }
    const auto fits = [](int side) { return side >= kMinSide && side <= kMaxSide; };
    if (wide && high && fits(options.width) && fits(options.height)) return true;
    options.error = QStringLiteral("--size takes WIDTHxHEIGHT, each from %1 to %2 pixels, not \"%3\".")
                        .arg(kMinSide)
                        .arg(kMaxSide)
                        .arg(text);
    return false;
}

bool ReadFrames(const QString& text, Options& options) {
    bool number = false;
    options.frames = text.toInt(&number);
    if (number && options.frames >= 0 && options.frames <= kMaxFrames) return true;
    options.error =
        QStringLiteral("--frames takes 0 to %1 frames, not \"%2\".").arg(kMaxFrames).arg(text);
    return false;
}

// "pulses", "scan", "testmask", "zoom", "terminal" or "tester".
bool ReadScene(const QString& text, Options& options) {
    if (text == QLatin1String("pulses"))
        options.scene = ulvarin::Scene::Pulses;
    else if (text == QLatin1String("scan"))
        options.scene = ulvarin::Scene::Scan;
    else if (text == QLatin1String("testmask"))
        options.scene = ulvarin::Scene::TestMask;
    else if (text == QLatin1String("zoom"))
        options.scene = ulvarin::Scene::ImageZoom;
    else if (text == QLatin1String("terminal"))
        options.scene = ulvarin::Scene::Terminal;
    else if (text == QLatin1String("tester"))
        options.scene = ulvarin::Scene::Tester;
    else
        return false;
    return true;
}

Options ReadOptions(const QStringList& arguments) {
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--screenshot") && hasValue)
            options.screenshot = arguments[++i];
        else if (argument == QLatin1String("--frames") && hasValue)
            options.valid = ReadFrames(arguments[++i], options) && options.valid;
        else if (argument == QLatin1String("--save-frames") && hasValue)
            options.framesFolder = arguments[++i];
        else if (argument == QLatin1String("--scene") && hasValue)
            options.valid = ReadScene(arguments[++i], options) && options.valid;
        else if (argument == QLatin1String("--size") && hasValue)
            options.valid = ReadSize(arguments[++i], options) && options.valid;
        else
            options.valid = false;
    }
    return options;
}

constexpr const char* kUsage =
    "Usage: ulvarin [OPTION]...\n"
    "Tester and acquisition window for the USB readout interface of Medipix2, Medipix2 MXR\n"
    "and Timepix hybrid pixel detectors (one to four chips). Without a connected interface\n"
    "it opens the built-in emulator; ULVARIN_EMULATOR chooses its chip set (for example\n"
    "timepix:4).\n"
    "\n"
    "Options:\n"
    "  --screenshot FILE       render the window to a PNG file and exit\n"
    "  --size WxH              size of that picture (default 1280x720)\n"
    "  --scene NAME            what it shows: pulses, scan, testmask, zoom, terminal or\n"
    "                          tester\n"
    "  --frames N              frames exposed before the picture is taken (default 1)\n"
    "  --save-frames FOLDER    also write those frames into FOLDER\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    if (ulvarin::AnswerHelpOrVersion(argc, argv, "ulvarin", kUsage)) return 0;
    ulvarin::RegisterStandardDrivers();
    Application application(argc, argv);
    // Qt adopts the user's locale at start-up; numbers in files, logs and the C-formatted
    // texts must keep the decimal point whatever the language, so the C library's numeric
    // locale goes back to "C" (Qt's own formatting is unaffected).
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromUtf8(kTitle));
    const Options options = ReadOptions(QApplication::arguments());
    if (!options.valid) {
        if (!options.error.isEmpty()) std::fprintf(stderr, "ulvarin: %s\n", qPrintable(options.error));
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A picture shows the program as it starts, whatever configuration earlier runs left
    // beside it.
    QTemporaryDir pictureFolder;
    if (!options.screenshot.isEmpty())
        ulvarin::SetProgramFolder(pictureFolder.path().toStdString());
    ulvarin::TFormUlvarin form;
    if (!options.screenshot.isEmpty())
        return ulvarin::TakeScreenshot(form, options.screenshot, options.frames,
                                       options.framesFolder, options.width, options.height,
                                       options.scene);
    form.show();
    return QApplication::exec();
}
