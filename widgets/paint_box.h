// A plain drawing surface: its owner supplies the painting; until then it shows black.
#pragma once

#include <QWidget>
#include <functional>

class QPainter;

namespace ulvarin {

class PaintBox : public QWidget {
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter& painter, const QRect& area)>;

    explicit PaintBox(QWidget* parent = nullptr) : QWidget(parent) {}
    // Replaces what the box draws; repaints it.
    void SetPainter(Painter painter);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Painter painter_;
};

// A box named `name` with the hint `hint` (none when empty), at least `minHeight` high;
// it takes the width its layout gives it.
PaintBox* MakePaintBox(QWidget* parent, const char* name, const char* hint, int minHeight);

}  // namespace ulvarin
