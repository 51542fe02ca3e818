// A pair of arrow buttons with a position between a minimum and a maximum. Before every
// step it asks its listeners through `changing`, which may refuse the step or replace the
// new position; handlers that drive hardware use this to step a code instead.
#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace ulvarin {

class UpDown : public QWidget {
    Q_OBJECT
public:
    enum class Direction { None, Up, Down };

    // What a `changing` handler sees and may alter.
    struct Change {
        Direction direction = Direction::None;
        int position = 0;     // position before the step
        int newPosition = 0;  // proposed position; a handler may replace it
        bool allow = true;    // a handler clears it to refuse the step
    };

    explicit UpDown(QWidget* parent = nullptr);

    int Position() const { return position_; }
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    // Sets the position, kept within the range; asks no one and shows it in the buddy.
    void SetPosition(int position);
    // Sets the range; the position is kept within it.
    void SetRange(int minimum, int maximum);
    void SetMaximum(int maximum) { SetRange(minimum_, maximum); }
    // The edit box that shows the position after each accepted step (none by default).
    void SetBuddy(QLineEdit* buddy) { buddy_ = buddy; }

    // One step as the arrows make it: asks `changing`, then moves to the (possibly
    // replaced) position within the range. Returns whether the step was accepted.
    bool Step(Direction direction);

signals:
    // Emitted before a step; connect with a direct connection to refuse or replace it.
    void changing(ulvarin::UpDown::Change* change);
    // Emitted after the position changed by a step.
    void positionChanged(int position);

private:
    void ShowInBuddy();

    int position_ = 0;
    int minimum_ = 0;
    int maximum_ = 100;
    QLineEdit* buddy_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
};

// Lets the Up and Down keys and the mouse wheel over `box` call `step` with +1 or -1
// instead of their usual effect; the watcher lives as long as the box.
void StepWithKeysAndWheel(QWidget* box, std::function<void(int direction)> step);

// Lets the mouse wheel over `box` do nothing (for boxes whose every change drives hardware).
void IgnoreWheel(QWidget* box);

// The spin boxes, lists and edit boxes inside `area` take the wheel only once they have focus
// (clicked or tabbed into); until then the wheel goes to the scroll area that holds them,
// so that no value changes because the pointer crossed it while the operator scrolled. Call
// after their own wheel handling is installed.
void WheelOnlyWithFocus(QWidget* area);

// Steps `upDown` from its buddy box with the keys and the wheel, as its arrows would.
void StepUpDownFromBox(QWidget* box, UpDown* upDown);

}  // namespace ulvarin
