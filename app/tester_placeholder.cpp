#include "app/tester_placeholder.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace ulvarin {

QWidget* MakeTesterPlaceholder(QWidget* owner) {
    auto* window = new QWidget(owner, Qt::Window);
    window->setObjectName(QStringLiteral("UlvarinTester"));
    window->setWindowTitle(QString::fromUtf8(kTesterCaption));
    auto* layout = new QVBoxLayout(window);
    auto* note = new QLabel(
        QStringLiteral("The hardware tester's controls are not available in this version."),
        window);
    note->setWordWrap(true);
    layout->addWidget(note);
    window->resize(420, 120);
    return window;
}

}  // namespace ulvarin
