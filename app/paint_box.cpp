#include "app/paint_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace ulvarin {

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
