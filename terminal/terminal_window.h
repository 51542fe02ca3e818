// The USB terminal: a debugging window that logs every block of bytes moved on the
// interfaces while switched on, and sends typed raw bytes to the open interface.
//
// The traffic hook runs on whichever thread moves the bytes, under the device lock. It runs
// the traffic log there and queues the resulting line changes; the GUI thread takes them in
// bulk, in order, through one queued call per batch. The view is a list over a small model
// that inserts a batch at once and drops the oldest lines in bulk, so a frame read with the
// terminal on does not stall the window.
#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QWidget>
#include <mutex>
#include <vector>

#include "device/device.h"
#include "device/traffic_log.h"

class QCheckBox;
class QLineEdit;
class QListView;
class QPushButton;

namespace ulvarin {

// The terminal's lines as a list model: std::string rows, turned into text only when shown.
class TerminalLines : public QAbstractListModel, public LogLines::Observer {
public:
    explicit TerminalLines(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    LogLines& Store() { return store_; }
    QStringList All() const;

private:
    void BeginRemove(size_t first, size_t last) override;
    void EndRemove() override;
    void BeginInsert(size_t first, size_t last) override;
    void EndInsert() override;
    void Changed(size_t first, size_t last) override;
    void BeginReset() override;
    void EndReset() override;

    LogLines store_{this};
};

class TFormTerminal : public QWidget {
    Q_OBJECT
public:
    // A top-level window owned by `parent`; logs and sends through `device`.
    explicit TFormTerminal(MpxDevice& device, QWidget* parent = nullptr);
    ~TFormTerminal() override;

    // Switches on when off, off when on.
    void ReceiveDataClick();
    // On: the exchange in progress is not summarised, the traffic hook is installed and the
    // button reads "Pause". Off: the hook is removed (no call of it runs after this returns)
    // and the button reads "Start".
    void SwitchOn();
    void SwitchOff();
    bool switchedOn() const { return switchedOn_; }

    // Sends the decoded command text (see DecodeCommandText) to the device; a short write or
    // no open interface shows "Transmission failed", a full one is announced (bytesSent).
    // The interface's answer starts a new exchange in the log.
    void BttnSendClick();
    // Deletes every line, those still queued included.
    void BttnClearDataClick();
    // Exchanges that start while set are the main timer's polling (hidden by "Skip
    // monitoring messages"). Any thread.
    void SetTimerRunning(bool on);
    // A separator line of 39 '=' then `line`, the last line selected, the window shown in
    // front.
    void AddMessageLine(const QString& line);

    QStringList Lines() const;
    // The traffic hook's body: logs one block moved on `handle` and queues the line changes
    // for the GUI thread. Any thread; calls must be serialised (the device lock does).
    void LogTraffic(MpxDevice& handle, const uint8_t* bytes, uint32_t count, int direction);
    // Moves the line changes queued by the traffic hook into the view now (GUI thread).
    void FlushPending();

signals:
    // Raw command bytes the open interface has been sent from the command line; whoever
    // shows settings they carry shows them now.
    void bytesSent(const QByteArray& bytes);

private:
    static void TrafficHook(MpxDevice& handle, const uint8_t* bytes, uint32_t count, int direction,
                            void* user);
    void UpdateFilters();
    void ApplyOps(const std::vector<LogLineOp>& ops);
    void SelectLast();
    void BuildControls();

    MpxDevice& device_;
    bool switchedOn_ = false;
    TerminalLines* model_;

    // Shared with the hook's thread.
    std::mutex mutex_;
    TrafficLog log_;
    TrafficFilters filters_;
    bool timerRunning_ = false;
    std::vector<LogLineOp> pending_;
    bool flushPosted_ = false;

public:
    QListView* ReceivedData = nullptr;
    QLineEdit* EditCommand = nullptr;
    QPushButton* BttnSend = nullptr;
    QPushButton* BttnClearData = nullptr;
    QPushButton* ReceiveData = nullptr;
    QCheckBox* ChkbFilterLong = nullptr;
    QCheckBox* ChkbSkipScope = nullptr;
    QCheckBox* ChkbSkipMonitor = nullptr;
};

}  // namespace ulvarin
