#include "panels/messages/message_log.h"

#include <QListWidget>
#include <QThread>
#include <algorithm>

#include "device/report.h"

namespace ulvarin {
namespace {

bool OnGuiThread(const QObject* object) {
    return QThread::currentThread() == object->thread();
}

}  // namespace

MessageLog::MessageLog(QListWidget* list, QObject* parent) : QObject(parent), list_(list) {}

QString MessageLog::SeparatorLine(int32_t count) {
    return QString::number(count) + QLatin1Char(' ') + QString(101, QLatin1Char('-'));
}

void MessageLog::LogReport(MpxDevice& handle) {
    const int8_t kind = handle.reportKind;
    // Logging off quiets the GUI thread's own periodic work; what the reading threads
    // report (frames received) is shown whenever it comes.
    const bool quiet = !logEnabled && QThread::currentThread() == thread();
    if (quiet || (justErrors && kind <= kGeneralError)) return;
    lastReportKind = kind;
    Entry entry;
    if (separatorPending.exchange(false)) entry.separator = SeparatorLine(operationCount);
    entry.line = QString::fromUtf8(ErrorKindName(kind)) + QStringLiteral(": ") +
                 QString::fromUtf8(handle.reportText);
    handle.Clear();
    Enqueue(std::move(entry));
}

void MessageLog::BeginOperation() {
    if (!logEnabled) return;
    ++operationCount;
    separatorPending = true;
}

void MessageLog::AddLine(const QString& line) {
    Enqueue({QString(), line, false});
}

void MessageLog::Clear() {
    {
        std::lock_guard lock(mutex_);
        queued_.clear();
    }
    list_->clear();
}

void MessageLog::Enqueue(Entry entry) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = queued_.empty();
        queued_.push_back(std::move(entry));
    }
    if (OnGuiThread(this))
        Flush();
    else if (first)  // one posted flush takes everything queued behind it too
        QMetaObject::invokeMethod(this, &MessageLog::Flush, Qt::QueuedConnection);
}

void MessageLog::Flush() {
    std::deque<Entry> entries;
    {
        std::lock_guard lock(mutex_);
        entries.swap(queued_);
    }
    for (const Entry& entry : entries) Show(entry);
}

void MessageLog::Show(const Entry& entry) {
    if (entry.fromReport) {
        while (list_->count() > kMaxLines) delete list_->takeItem(0);
    }
    if (!entry.separator.isEmpty()) list_->addItem(entry.separator);
    list_->addItem(entry.line);
    // The newest lines stay in view, reports and the groups' own lines ("Scan finished ...")
    // alike: the top line is three above the end (the view clamps it so the list is
    // scrolled to its bottom).
    const int top = std::max(0, list_->count() - 3);
    list_->scrollToItem(list_->item(top), QAbstractItemView::PositionAtTop);
}

}  // namespace ulvarin
