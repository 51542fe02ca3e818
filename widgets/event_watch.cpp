#include "widgets/event_watch.h"

#include <QWidget>

namespace ulvarin {
namespace {

class EventWatch : public QObject {
public:
    EventWatch(QObject* parent, QEvent::Type type, std::function<void()> action)
        : QObject(parent), type_(type), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == type_) action_();
        return QObject::eventFilter(watched, event);
    }

private:
    QEvent::Type type_;
    std::function<void()> action_;
};

}  // namespace

void OnEvent(QWidget* widget, QEvent::Type type, std::function<void()> action) {
    widget->installEventFilter(new EventWatch(widget, type, std::move(action)));
}

}  // namespace ulvarin
