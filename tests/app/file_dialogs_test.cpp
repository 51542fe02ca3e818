// File dialogs remember the folder last chosen for each kind of file: within a session, and
// through the window's settings home across a restart; the mask dialog shows both mask
// formats at first.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "config/program_folder.h"
#include "device/device.h"
#include "device/link.h"
#include "files/mask_file.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/app/window_fixture.h"
#include "widgets/qt_dialogs.h"

namespace ulvarin::test {
namespace {

std::string Made(const QTemporaryDir& root, const char* name) {
    const QString path = root.filePath(QString::fromUtf8(name));
    QDir().mkpath(path);
    return QDir::cleanPath(path).toStdString();
}

// The folder memory of the seam itself, the same for the Qt dialogs and the scripted ones.
TEST(FileFoldersTest, EachKindStartsWhereItsLastFileWas) {
    QTemporaryDir root;
    const std::string masks = Made(root, "masks"), frames = Made(root, "frames");
    ScriptedDialogs dialogs;
    const auto open = [&](FileKind kind, std::optional<std::string> answer,
                          const char* initialName = "") {
        dialogs.paths.push_back(std::move(answer));
        dialogs.OpenFile({.title = "t", .initialName = initialName, .kind = kind});
        return dialogs.fileRequests.back();
    };

    struct Step {
        FileKind kind;
        std::optional<std::string> answer;
        std::string expectedFolder;  // where the dialog opened
    };
    const Step steps[] = {
        {FileKind::Masks, masks + "/a.txt", ""},  // nothing remembered yet
        {FileKind::Masks, std::nullopt, masks},   // cancelled: remembers nothing new
        {FileKind::Masks, masks + "/../frames/b.bpc", masks},
        {FileKind::Masks, std::nullopt, frames},  // the path was made plain
        {FileKind::Spectra, std::nullopt, ""},    // kinds do not share folders
        {FileKind::None, frames + "/c.txt", ""},  // no kind: nothing remembered
        {FileKind::None, std::nullopt, ""},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(open(steps[i].kind, steps[i].answer).folder, steps[i].expectedFolder);
    }

    // A remembered folder takes the place of the one an initial name brings; the name stays.
    const FileRequest withName = open(FileKind::Masks, std::nullopt, "/elsewhere/mask.txt");
    EXPECT_EQ(withName.folder, frames);
    EXPECT_EQ(withName.initialName, "mask.txt");
    // A save remembers as an open does; a caller's own folder is kept.
    dialogs.paths.push_back(masks + "/saved.txt");
    dialogs.SaveFile({.title = "s", .kind = FileKind::Masks});
    EXPECT_TRUE(dialogs.saves.back());
    EXPECT_EQ(open(FileKind::Masks, std::nullopt).folder, masks);
    dialogs.paths.push_back(std::nullopt);
    dialogs.OpenFile({.title = "t", .kind = FileKind::Masks, .folder = frames});
    EXPECT_EQ(dialogs.fileRequests.back().folder, frames);

    // A folder removed since is not offered: the dialog opens where it would without it.
    std::filesystem::remove_all(masks);
    const FileRequest gone = open(FileKind::Masks, std::nullopt, "/elsewhere/mask.txt");
    EXPECT_EQ(gone.folder, "");
    EXPECT_EQ(gone.initialName, "/elsewhere/mask.txt");
}

TEST(FileFoldersTest, AFolderFileKeepsThemAcrossRestartsAndSurvivesDamage) {
    QTemporaryDir root;
    const std::string masks = Made(root, "masks"), plots = Made(root, "plots");
    const std::string file = root.filePath("settings/deeper/folders.txt").toStdString();
    {
        ScriptedDialogs first;
        first.KeepFoldersIn(file);  // no file yet: nothing remembered, nothing made
        EXPECT_FALSE(std::filesystem::exists(file));
        first.paths = {masks + "/m.txt", plots + "/p.png"};
        first.OpenFile({.kind = FileKind::Masks});
        first.SaveFile({.kind = FileKind::Plots});
    }
    ScriptedDialogs second;
    second.KeepFoldersIn(file);
    EXPECT_EQ(second.RememberedFolder(FileKind::Masks), masks);
    EXPECT_EQ(second.RememberedFolder(FileKind::Plots), plots);
    EXPECT_EQ(second.RememberedFolder(FileKind::Frames), "");

    // Lines of unknown kinds, without '=', or from another system's editor are skipped or
    // read as meant.
    { std::ofstream(file) << "nonsense\nunknown=/tmp\r\nframes=" << plots << "\r\n"; }
    ScriptedDialogs third;
    third.KeepFoldersIn(file);
    EXPECT_EQ(third.RememberedFolder(FileKind::Frames), plots);
    EXPECT_EQ(third.RememberedFolder(FileKind::Masks), "");
}

TEST(FileFoldersTest, QtFiltersShowBothMaskFormatsTogether) {
    EXPECT_EQ(QtNameFilters("Pixel masks|*.txt;*.bpc|All files|*.*"),
              "Pixel masks (*.txt *.bpc);;All files (*.*)");
}

class FileDialogsWindowTest : public WindowTest {
protected:
    void SetMask(const std::optional<std::string>& path) {
        dialogs->paths.push_back(path);
        Control<QPushButton>("BttnSetMask")->click();
    }
};

// Through the window: "Set Mask" opens on the formats this program reads and writes,
// starts in the folder of the last mask, also after a restart, and the other kinds keep
// their own folders.
TEST_F(FileDialogsWindowTest, TheWindowRemembersFoldersAcrossARestart) {
    Start("medipix2:1");
    SetMask(std::nullopt);
    const FileRequest first = dialogs->fileRequests.back();
    EXPECT_EQ(first.kind, FileKind::Masks);
    EXPECT_EQ(first.folder, "");
    // The first filter, the one the dialog opens on, lists both formats.
    EXPECT_EQ(first.filter.rfind("Pixel masks|*.txt;*.bpc|", 0), 0u) << first.filter;

    QTemporaryDir elsewhere;
    const std::string mask = elsewhere.filePath("flat.txt").toStdString();
    std::string error;
    ASSERT_TRUE(WriteMaskFile(mask, std::vector<uint16_t>(kChipPixels, 0x1FFF), error)) << error;
    SetMask(mask);
    EXPECT_TRUE(dialogs->messages.empty());
    SetMask(std::nullopt);
    EXPECT_EQ(dialogs->fileRequests.back().folder, QDir::cleanPath(elsewhere.path()).toStdString());
    form->pulses->BtnSaveSpectrumClick();  // cancelled
    EXPECT_EQ(dialogs->fileRequests.back().kind, FileKind::Spectra);
    EXPECT_EQ(dialogs->fileRequests.back().folder, "");

    // A new window with fresh dialogs in the same program folder: the mask folder is kept.
    form.reset();
    MpxDevice leftOpen;
    while ((leftOpen.device = registry::At(0)) != nullptr) CloseDevice(leftOpen, true);
    dialogs = std::make_shared<ScriptedDialogs>();
    InstallDialogs(dialogs);
    form = std::make_unique<TFormUlvarin>();
    ASSERT_TRUE(WaitFor([&] { return form->Timer->isActive(); }));
    SetMask(std::nullopt);
    EXPECT_EQ(dialogs->fileRequests.back().folder, QDir::cleanPath(elsewhere.path()).toStdString());
    EXPECT_TRUE(std::filesystem::exists(ConfigFolder() + "/file_folders.txt"));
}

}  // namespace
}  // namespace ulvarin::test
