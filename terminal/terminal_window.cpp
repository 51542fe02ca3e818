#include "terminal/terminal_window.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/link.h"
#include "device/lock.h"
#include "widgets/dialogs.h"

namespace ulvarin {
namespace {

// The window the traffic hook may call. Taken by every hook call for its duration, so once
// switching off has cleared it no call into a window is left running or can start.
std::mutex gHookMutex;
TFormTerminal* gHookWindow = nullptr;

}  // namespace

TerminalLines::TerminalLines(QObject* parent) : QAbstractListModel(parent) {}

int TerminalLines::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(store_.Shown());
}

QVariant TerminalLines::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    return QString::fromStdString(store_.At(static_cast<size_t>(index.row())));
}

QStringList TerminalLines::All() const {
    QStringList lines;
    lines.reserve(rowCount());
    for (int i = 0; i < rowCount(); ++i) lines.append(QString::fromStdString(store_.At(i)));
    return lines;
}

void TerminalLines::BeginRemove(size_t first, size_t last) {
    beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
}
void TerminalLines::EndRemove() {
    endRemoveRows();
}
void TerminalLines::BeginInsert(size_t first, size_t last) {
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(last));
}
void TerminalLines::EndInsert() {
    endInsertRows();
}
void TerminalLines::Changed(size_t first, size_t last) {
    emit dataChanged(index(static_cast<int>(first)), index(static_cast<int>(last)));
}
void TerminalLines::BeginReset() {
    beginResetModel();
}
void TerminalLines::EndReset() {
    endResetModel();
}

TFormTerminal::TFormTerminal(MpxDevice& device, QWidget* parent)
    : QWidget(parent, Qt::Window), device_(device), model_(new TerminalLines(this)) {
    setObjectName("FormTerminal");
    setWindowTitle("USB Terminal");
    BuildControls();
    UpdateFilters();
}

// The hook goes first; then focus and edits that end while the controls are torn down run
// no handler.
TFormTerminal::~TFormTerminal() {
    if (switchedOn_) SwitchOff();
    for (QObject* child : findChildren<QObject*>()) child->blockSignals(true);
}

void TFormTerminal::BuildControls() {
    ReceivedData = new QListView(this);
    ReceivedData->setObjectName("ReceivedData");
    ReceivedData->setModel(model_);
    ReceivedData->setUniformItemSizes(true);
    ReceivedData->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ReceivedData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ReceivedData->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* label = new QLabel("Command", this);
    EditCommand = new QLineEdit(this);
    EditCommand->setObjectName("EditCommand");
    label->setBuddy(EditCommand);
    BttnSend = new QPushButton("Send", this);
    BttnSend->setObjectName("BttnSend");
    BttnClearData = new QPushButton("Clear", this);
    BttnClearData->setObjectName("BttnClearData");
    ReceiveData = new QPushButton("Switch ON", this);
    ReceiveData->setObjectName("ReceiveData");
    auto check = [this](const char* name, const char* text) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(name);
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, [this] { UpdateFilters(); });
        return box;
    };
    ChkbFilterLong = check("ChkbFilterLong", "Abreviate long commands");
    ChkbSkipScope = check("ChkbSkipScope", "Skip Scope response");
    ChkbSkipMonitor = check("ChkbSkipMonitor", "Skip monitoring messages");

    auto* command = new QHBoxLayout;
    command->addWidget(label);
    command->addWidget(EditCommand, 1);
    command->addWidget(BttnSend);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ReceiveData);
    buttons->addWidget(BttnClearData);
    buttons->addWidget(ChkbFilterLong);
    buttons->addWidget(ChkbSkipScope);
    buttons->addWidget(ChkbSkipMonitor);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ReceivedData, 1);
    layout->addLayout(command);
    layout->addLayout(buttons);
    resize(640, 480);

    connect(BttnSend, &QPushButton::clicked, this, [this] { BttnSendClick(); });
    connect(BttnClearData, &QPushButton::clicked, this, [this] { BttnClearDataClick(); });
    connect(ReceiveData, &QPushButton::clicked, this, [this] { ReceiveDataClick(); });
    connect(EditCommand, &QLineEdit::returnPressed, this, [this] {
        BttnSendClick();
        EditCommand->clear();
    });
}

void TFormTerminal::ReceiveDataClick() {
    if (switchedOn_)
        SwitchOff();
    else
        SwitchOn();
}

void TFormTerminal::SwitchOn() {
    {
        std::lock_guard lock(mutex_);
        log_.Resume();
    }
    {
        std::lock_guard lock(gHookMutex);
        gHookWindow = this;
    }
    SetTrafficHook(&TFormTerminal::TrafficHook, this);
    switchedOn_ = true;
    ReceiveData->setText("Pause");
}

void TFormTerminal::SwitchOff() {
    SetTrafficHook(nullptr, nullptr);
    {
        std::lock_guard lock(gHookMutex);
        if (gHookWindow == this) gHookWindow = nullptr;
    }
    switchedOn_ = false;
    ReceiveData->setText("Start");
}

void TFormTerminal::TrafficHook(MpxDevice& handle, const uint8_t* bytes, uint32_t count,
                                int direction, void* user) {
    std::lock_guard lock(gHookMutex);
    if (gHookWindow != nullptr && gHookWindow == user)
        gHookWindow->LogTraffic(handle, bytes, count, direction);
}

void TFormTerminal::LogTraffic(MpxDevice& handle, const uint8_t* bytes, uint32_t count,
                               int direction) {
    std::lock_guard lock(mutex_);
    log_.Feed(handle, bytes, count, direction, filters_, timerRunning_, pending_);
    if (flushPosted_ || pending_.empty()) return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void TFormTerminal::FlushPending() {
    std::vector<LogLineOp> ops;
    {
        std::lock_guard lock(mutex_);
        ops.swap(pending_);
        flushPosted_ = false;
    }
    if (!ops.empty()) ApplyOps(ops);
}

void TFormTerminal::ApplyOps(const std::vector<LogLineOp>& ops) {
    model_->Store().Apply(ops);
    SelectLast();
}

void TFormTerminal::SelectLast() {
    const int rows = model_->rowCount();
    if (rows == 0) return;
    ReceivedData->setCurrentIndex(model_->index(rows - 1));
    ReceivedData->scrollToBottom();
}

void TFormTerminal::UpdateFilters() {
    std::lock_guard lock(mutex_);
    filters_.filterLong = ChkbFilterLong->isChecked();
    filters_.skipScope = ChkbSkipScope->isChecked();
    filters_.skipMonitor = ChkbSkipMonitor->isChecked();
}

void TFormTerminal::SetTimerRunning(bool on) {
    std::lock_guard lock(mutex_);
    timerRunning_ = on;
}

void TFormTerminal::BttnSendClick() {
    const std::vector<uint8_t> bytes = DecodeCommandText(EditCommand->text().toStdString());
    if (bytes.empty()) return;
    bool sent = false;
    {
        MpxCriticalSection lock;
        device_.Clear();
        const uint32_t written =
            Transmit(device_, bytes.data(), static_cast<uint32_t>(bytes.size()));
        sent = device_.device != nullptr && written == bytes.size();
        ++device_.packets;  // the answer starts an exchange of its own
    }
    if (!sent) {
        CurrentDialogs().Error("Transmission failed", "Error");
        return;
    }
    emit bytesSent(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qsizetype>(bytes.size())));
}

void TFormTerminal::BttnClearDataClick() {
    FlushPending();
    model_->Store().Clear();
}

void TFormTerminal::AddMessageLine(const QString& line) {
    FlushPending();
    ApplyOps({{LogLineOp::Kind::Note, false, std::string(kEqualsLine)},
              {LogLineOp::Kind::Note, false, line.toStdString()}});
    show();
    raise();  // in front of the main window that was double-clicked
}

QStringList TFormTerminal::Lines() const {
    return model_->All();
}

}  // namespace ulvarin
