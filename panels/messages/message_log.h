// The message list: one line per report, grouped by operator action, narrowed to errors on
// request, at most about 200 lines. Reports arrive on whichever thread reports, under the
// device lock; the decision whether a report is shown is taken there at once, and the lines
// reach the list on the GUI thread in the order they were reported.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "device/device.h"

class QListWidget;

namespace ulvarin {

class MessageLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 200;

    explicit MessageLog(QListWidget* list, QObject* parent = nullptr);

    // The report hook's body: unless logging is off or the report is filtered out, records
    // its kind as the last shown, queues the line (after a pending separator) and clears the
    // handle. A report not shown stays pending in the handle. Any thread.
    void LogReport(MpxDevice& handle);
    // Starts an operation group: its first line will be preceded by a numbered separator.
    void BeginOperation();
    // Adds a line as it is, not through a report.
    void AddLine(const QString& line);
    // Deletes every line (lines still queued included).
    void Clear();

    // The separator line that opens operation `count`.
    static QString SeparatorLine(int32_t count);

    // Off: reports made on the GUI thread are not shown (other threads' still are).
    std::atomic<bool> logEnabled{true};
    std::atomic<bool> justErrors{false};
    std::atomic<bool> separatorPending{false};
    std::atomic<int32_t> operationCount{0};
    std::atomic<int8_t> lastReportKind{0};

private:
    struct Entry {
        QString separator;  // empty when none precedes the line
        QString line;
        bool fromReport = true;
    };

    // Queues an entry; the GUI thread shows it at once, other threads post a flush.
    void Enqueue(Entry entry);
    // Moves every queued entry into the list (GUI thread).
    void Flush();
    void Show(const Entry& entry);

    QListWidget* list_;
    std::mutex mutex_;
    std::deque<Entry> queued_;
};

}  // namespace ulvarin
