#include "widgets/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <mutex>

namespace ulvarin {
namespace {

QMessageBox::Icon BoxIcon(DialogIcon icon) {
    switch (icon) {
        case DialogIcon::Information:
            return QMessageBox::Information;
        case DialogIcon::Warning:
            return QMessageBox::Warning;
        case DialogIcon::Error:
            return QMessageBox::Critical;
        case DialogIcon::Question:
            return QMessageBox::Question;
        default:
            return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons BoxButtons(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case DialogButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case DialogButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

DialogAnswer Answer(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return DialogAnswer::Yes;
        case QMessageBox::No:
            return DialogAnswer::No;
        case QMessageBox::Ok:
            return DialogAnswer::Ok;
        default:
            return DialogAnswer::Cancel;
    }
}

std::optional<std::string> RunFileDialog(const FileRequest& request, bool save) {
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save || !request.mustExist ? QFileDialog::AnyFile
                                                  : QFileDialog::ExistingFile);
    if (!request.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(QtNameFilters(request.filter));
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.folder.empty()) dialog.setDirectory(QString::fromStdString(request.folder));
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::mutex gDialogsMutex;
std::shared_ptr<Dialogs> gDialogs;

}  // namespace

QString QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
    return filters.join(QStringLiteral(";;"));
}

QString DisplayText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace('\r', '\n');
    return shown;
}

DialogAnswer QtDialogs::Message(const MessageRequest& request) {
    QMessageBox box(BoxIcon(request.icon), QString::fromStdString(request.caption),
                    DisplayText(request.text), BoxButtons(request.buttons),
                    QApplication::activeWindow());
    return Answer(box.exec());
}

std::optional<std::string> QtDialogs::AskOpenFile(const FileRequest& request) {
    return RunFileDialog(request, false);
}

std::optional<std::string> QtDialogs::AskSaveFile(const FileRequest& request) {
    return RunFileDialog(request, true);
}

Dialogs& CurrentDialogs() {
    std::lock_guard lock(gDialogsMutex);
    if (!gDialogs) gDialogs = std::make_shared<QtDialogs>();
    return *gDialogs;
}

void InstallDialogs(std::shared_ptr<Dialogs> dialogs) {
    std::lock_guard lock(gDialogsMutex);
    gDialogs = std::move(dialogs);
}

}  // namespace ulvarin
