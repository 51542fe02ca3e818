#include "widgets/up_down.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace ulvarin {
namespace {

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(16, 12);
    return button;
}

}  // namespace

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = MakeArrow(this, Qt::UpArrow);
    down_ = MakeArrow(this, Qt::DownArrow);
    layout->addWidget(up_);
    layout->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { Step(Direction::Up); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(Direction::Down); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void UpDown::SetPosition(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    ShowInBuddy();
}

void UpDown::SetRange(int minimum, int maximum) {
    minimum_ = std::min(minimum, maximum);
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
}

bool UpDown::Step(Direction direction) {
    Change change;
    change.direction = direction;
    change.position = position_;
    change.newPosition = position_ + (direction == Direction::Up     ? 1
                                      : direction == Direction::Down ? -1
                                                                     : 0);
    emit changing(&change);
    if (!change.allow) return false;
    const int next = std::clamp(change.newPosition, minimum_, maximum_);
    if (next == position_) return true;
    position_ = next;
    ShowInBuddy();
    emit positionChanged(position_);
    return true;
}

void UpDown::ShowInBuddy() {
    if (buddy_ != nullptr) buddy_->setText(QString::number(position_));
}

namespace {

class StepWatch : public QObject {
public:
    StepWatch(QObject* parent, std::function<void(int)> step)
        : QObject(parent), step_(std::move(step)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        int direction = 0;
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            direction = key == Qt::Key_Up ? 1 : key == Qt::Key_Down ? -1 : 0;
        } else if (event->type() == QEvent::Wheel) {
            const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
            direction = delta > 0 ? 1 : delta < 0 ? -1 : 0;
        }
        if (direction == 0) return QObject::eventFilter(watched, event);
        step_(direction);
        return true;
    }

private:
    std::function<void(int)> step_;
};

}  // namespace

void StepWithKeysAndWheel(QWidget* box, std::function<void(int direction)> step) {
    box->installEventFilter(new StepWatch(box, std::move(step)));
}

void IgnoreWheel(QWidget* box) {
    class WheelBlock : public QObject {
    public:
        using QObject::QObject;

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            return event->type() == QEvent::Wheel || QObject::eventFilter(watched, event);
        }
    };
    box->installEventFilter(new WheelBlock(box));
}

void WheelOnlyWithFocus(QWidget* area) {
    class FocusFirst : public QObject {
    public:
        using QObject::QObject;

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* box = static_cast<QWidget*>(watched);
            if (event->type() != QEvent::Wheel || box->hasFocus())
                return QObject::eventFilter(watched, event);
            // Handed to the scroll area that holds the box, as if the box were not there.
            QWidget* holder = box->parentWidget();
            while (holder != nullptr && qobject_cast<QAbstractScrollArea*>(holder) == nullptr)
                holder = holder->parentWidget();
            if (auto* scroll = qobject_cast<QAbstractScrollArea*>(holder)) {
                const auto* wheel = static_cast<QWheelEvent*>(event);
                QWidget* viewport = scroll->viewport();
                QWheelEvent passed(viewport->mapFromGlobal(wheel->globalPosition()),
                                   wheel->globalPosition(), wheel->pixelDelta(),
                                   wheel->angleDelta(), wheel->buttons(), wheel->modifiers(),
                                   wheel->phase(), wheel->inverted());
                QCoreApplication::sendEvent(viewport, &passed);
            }
            return true;
        }
    };
    QList<QWidget*> boxes;
    for (QWidget* w : area->findChildren<QAbstractSpinBox*>()) boxes.append(w);
    for (QWidget* w : area->findChildren<QComboBox*>()) boxes.append(w);
    for (QWidget* w : area->findChildren<QLineEdit*>())
        if (qobject_cast<QComboBox*>(w->parentWidget()) == nullptr) boxes.append(w);
    for (QWidget* box : boxes) {
        // Not focused by the wheel itself, which would let it step at once.
        if (box->focusPolicy() == Qt::WheelFocus) box->setFocusPolicy(Qt::StrongFocus);
        box->installEventFilter(new FocusFirst(box));
    }
}

void StepUpDownFromBox(QWidget* box, UpDown* upDown) {
    StepWithKeysAndWheel(box, [upDown](int direction) {
        upDown->Step(direction > 0 ? UpDown::Direction::Up : UpDown::Direction::Down);
    });
}

}  // namespace ulvarin
