#include "app/up_down.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
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

}  // namespace ulvarin
