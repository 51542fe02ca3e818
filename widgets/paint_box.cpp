#include "widgets/paint_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace ulvarin {

PaintBox* MakePaintBox(QWidget* parent, const char* name, const char* hint, int minHeight) {
    auto* box = new PaintBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    if (*hint != 0) box->setToolTip(QString::fromUtf8(hint));
    box->setMinimumHeight(minHeight);
    return box;
}

void PaintBox::SetPainter(Painter painter) {
    painter_ = std::move(painter);
    update();
}

void PaintBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (painter_)
        painter_(painter, rect());
    else
        painter.fillRect(rect(), Qt::black);
}

void PaintBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QWidget::mouseReleaseEvent(event);
}

}  // namespace ulvarin
