#include "app/main_layout.h"

#include <QHBoxLayout>
#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "widgets/up_down.h"

namespace ulvarin {
namespace {

// When first shown, gives the part `sized` the room its content asks for, up to `maxShare`
// of the splitter, and the other part the rest; later the operator drags the handle.
class FittingSplitter : public QSplitter {
public:
    FittingSplitter(Qt::Orientation orientation, QWidget* parent, QWidget* content, int sized,
                    double maxShare)
        : QSplitter(orientation, parent), content_(content), sized_(sized), maxShare_(maxShare) {}

protected:
    void showEvent(QShowEvent* event) override {
        QSplitter::showEvent(event);
        if (done_) return;
        done_ = true;
        const bool across = orientation() == Qt::Horizontal;
        const int total = (across ? width() : height()) - handleWidth();
        const QSize hint = content_->sizeHint();
        // A vertical scroll bar may come with the content.
        const int wanted = (across ? hint.width() + 20 : hint.height() + 4);
        const int part = std::min(wanted, static_cast<int>(total * maxShare_));
        setSizes(sized_ == 0 ? QList<int>{part, total - part} : QList<int>{total - part, part});
    }

private:
    QWidget* content_;
    int sized_;
    double maxShare_;
    bool done_ = false;
};

QWidget* Column(const std::vector<QWidget*>& parts, QWidget* parent, int stretchFirst) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    for (size_t i = 0; i < parts.size(); ++i)
        layout->addWidget(parts[i], i == 0 ? stretchFirst : 0);
    if (stretchFirst == 0) layout->addStretch(1);
    return column;
}

// The chip and process columns side by side, scrolled when the window is too small for them.
QScrollArea* ControlArea(const WindowParts& parts, QWidget* parent) {
    auto* inner = new QWidget;
    auto* columns = new QHBoxLayout(inner);
    columns->setContentsMargins(0, 0, 4, 0);
    columns->setSpacing(6);
    columns->addWidget(Column(parts.chipColumn, inner, 0), 1, Qt::AlignTop);
    columns->addWidget(Column(parts.processColumn, inner, 0), 1, Qt::AlignTop);
    auto* scroll = new QScrollArea(parent);
    scroll->setObjectName(QStringLiteral("ScrollControls"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(inner);
    return scroll;
}

}  // namespace

void PlaceParts(QMainWindow* window, const WindowParts& parts) {
    auto* central = new QWidget(window);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(5);
    auto* bar = new QHBoxLayout;
    bar->setSpacing(24);
    bar->addWidget(parts.deviceBar, 1);
    bar->addWidget(parts.configBar);
    layout->addLayout(bar);

    QScrollArea* controls = ControlArea(parts, central);
    WheelOnlyWithFocus(controls->widget());
    auto* right = new FittingSplitter(Qt::Vertical, central, controls->widget(), 0, 0.7);
    right->setObjectName(QStringLiteral("SplitterMessages"));
    right->addWidget(controls);
    right->addWidget(parts.messages);
    right->setStretchFactor(1, 1);
    right->setCollapsible(0, false);
    right->setCollapsible(1, false);

    auto* main = new FittingSplitter(Qt::Horizontal, central, controls->widget(), 1, 0.65);
    main->setObjectName(QStringLiteral("SplitterImage"));
    main->addWidget(Column(parts.imageSide, main, 1));
    main->addWidget(right);
    main->setStretchFactor(0, 1);
    main->setCollapsible(0, false);
    main->setCollapsible(1, false);
    layout->addWidget(main, 1);
    window->setCentralWidget(central);
    window->resize(kStartWidth, kStartHeight);
}

QRect FitIntoArea(const QRect& window, const QMargins& frame, const QRect& available,
                  const QSize& minimum) {
    const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize size = window.size().boundedTo(available.size() - frameSize).expandedTo(minimum);
    // The frame's top left corner, kept inside the area; when the frame is wider or taller
    // than the area, its top or left edge stays on the area's.
    const auto place = [](int at, int length, int first, int room) {
        return std::max(first, std::min(at, first + room - length));
    };
    const int x = place(window.x() - frame.left(), size.width() + frameSize.width(), available.x(),
                        available.width());
    const int y = place(window.y() - frame.top(), size.height() + frameSize.height(), available.y(),
                        available.height());
    return {QPoint(x + frame.left(), y + frame.top()), size};
}

}  // namespace ulvarin
