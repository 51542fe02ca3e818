#include "app/device_boxes.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "device/report.h"
#include "widgets/dialogs.h"

namespace ulvarin {
namespace {

DialogIcon IconOf(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Warning:
            return DialogIcon::Warning;
        case BoxIcon::Information:
            return DialogIcon::Information;
        default:
            return DialogIcon::Error;
    }
}

void Show(const BoxRequest& request) {
    CurrentDialogs().Message(
        {request.text, request.caption, IconOf(request.icon), DialogButtons::Ok});
}

}  // namespace

void InstallDeviceBoxes(QObject* gui) {
    // Removed before `gui` goes away, so the pointer stays valid while installed.
    SetBoxFunction([gui](const BoxRequest& request) {
        if (QThread::currentThread() == gui->thread())
            Show(request);
        else
            QMetaObject::invokeMethod(
                gui, [request] { Show(request); }, Qt::QueuedConnection);
    });
}

void RemoveDeviceBoxes() {
    SetBoxFunction(nullptr);
}

}  // namespace ulvarin
