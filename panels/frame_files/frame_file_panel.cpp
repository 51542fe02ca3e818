#include "panels/frame_files/frame_file_panel.h"

#include <QCheckBox>
#include <QSignalBlocker>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cctype>

#include "device/identify.h"
#include "device/link.h"
#include "files/file_names.h"
#include "files/frame_file.h"
#include "files/frame_writer.h"
#include "files/frame_writer_factory.h"
#include "panels/frame_files/frame_file_tables.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"

namespace ulvarin {
namespace {

const char* kTextFilter = "Text file|*.txt|All files|*.*";
const char* kSaveFilter = "Text file|*.txt|TIFF image (32-bit)|*.tif|HDF5 file|*.h5|All files|*.*";

void ShowFileError(WindowShared& shared, FrameFileStatus status) {
    shared.dialogs().Error(FrameFileMessage(status), "Error");
}

}  // namespace

// The interface voltages are the analog group's and stay unknown here.
RunDescription FrameFilePanel::WindowRun() {
    RunDescription run;
    WindowShared& shared = shared_;
    run.layout = shared.frames.layout();
    if (shared.IsOpen()) {
        run.deviceName = DeviceName(shared.device);
        run.chipIdText = ChipIdText(shared.device);
        run.firmware = Firmware();
    }
    const std::span<ChipDacRecord> records = shared.ChipRecords();
    run.dacs.assign(records.begin(), records.end());
    const FrameStore& frames = shared.frames;
    const uint32_t pixels = frames.pixelsInUse();
    const std::span<const uint16_t> config = frames.config().first(pixels);
    run.countModes = CountModes(run.layout, config);
    run.pixelConfig.assign(config.begin(), config.end());
    if (flatFieldShown && flatFieldShown())
        run.flatField.assign(frames.flatField().begin(), frames.flatField().begin() + pixels);
    return run;
}

// Asked of the interface, as the command line does, so every run file says it; once per
// open, as autosave describes every frame.
const std::string& FrameFilePanel::Firmware() {
    if (firmware_) return *firmware_;
    char text[256] = {};
    shared_.device.Clear();
    std::string firmware;
    if (ReadVersionInfo(shared_.device, text, sizeof text)) firmware = text;
    while (!firmware.empty() && std::isspace(static_cast<unsigned char>(firmware.back())))
        firmware.pop_back();
    return *(firmware_ = std::move(firmware));
}

FrameFileStatus FrameFilePanel::WriteCountsAsRun(const std::string& path) {
    RunDescription run = WindowRun();
    run.expectedFrames = 1;
    std::string error;
    std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, run, error);
    if (!writer) return FrameFileStatus::kOutputOpenFailed;
    const FrameStore& frames = shared_.frames;
    const bool written = writer->Append(frames.counts().first(frames.pixelsInUse()),
                                        {frames.integratedTime, 0.0, 0});
    return written && writer->Close() ? FrameFileStatus::kOk : FrameFileStatus::kOutputWriteFailed;
}

FrameFilePanel::FrameFilePanel(WindowShared& shared, QWidget* parent)
    : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelImageFiles"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGridPanel(this, "GridImageFiles", ImageFileGrid()));
    ChkbAutoSaveFrames = FindControl<QCheckBox>(this, "ChkbAutoSaveFrames");
    EditFileName = FindControl<QLineEdit>(this, "EditFileName");
    EditFileName->setMinimumWidth(
        EditFileName->fontMetrics().horizontalAdvance(QStringLiteral("data_0000.txt")) + 16);
    ChkbStream = FindControl<QCheckBox>(this, "ChkbStream");
    EditStreamEndpoint = FindControl<QLineEdit>(this, "EditStreamEndpoint");
    // Failures are found on the writer thread and shown on this one.
    autosaver_ = std::make_unique<FrameAutosaver>([this] {
        QMetaObject::invokeMethod(
            this, [this] { ShowAutosaveFailure(); }, Qt::QueuedConnection);
    });
    ConnectControls();
}

FrameFilePanel::~FrameFilePanel() {
    // Queued frames are written before the panel goes; their failure news dies with it.
    autosaver_.reset();
    if (stream_) stream_->Close();
}

void FrameFilePanel::ConnectControls() {
    const auto button = [this](const char* name, void (FrameFilePanel::*handler)()) {
        connect(FindControl<QPushButton>(this, name), &QPushButton::clicked, this, handler);
    };
    button("BttnSaveData", &FrameFilePanel::BttnSaveDataClick);
    button("BttnLoadData", &FrameFilePanel::BttnLoadDataClick);
    button("BttnBrowse", &FrameFilePanel::BttnBrowseClick);
    button("BttnLoadPrew", &FrameFilePanel::BttnLoadPrewClick);
    button("BttnLoadNext", &FrameFilePanel::BttnLoadNextClick);
    // Switching autosave off completes the run file, so others may open it.
    connect(ChkbAutoSaveFrames, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) autosaver_->EndRun();
    });
    connect(ChkbStream, &QCheckBox::toggled, this, &FrameFilePanel::StreamToggled);
    connect(&shared_, &WindowShared::openStateChanged, this, [this] {
        firmware_.reset();
        // Another interface may bring another frame shape: a new series tells consumers.
        if (stream_) {
            EndStream();
            StreamToggled(true);
        }
    });
    connect(&shared_, &WindowShared::interfaceReset, this,
            [this] { autosaver_->name().lastFileNumber = 0; });
}

std::optional<std::string> FrameFilePanel::AskSaveName() {
    const std::optional<std::string> chosen =
        shared_.dialogs().SaveFile({.title = "Save data matrix as ...",
                                    .filter = kSaveFilter,
                                    .defaultExtension = "txt",
                                    .overwritePrompt = true,
                                    .kind = FileKind::Frames});
    if (!chosen) return std::nullopt;
    return WithDefaultExtension(*chosen, ".txt");
}

void FrameFilePanel::BttnSaveDataClick() {
    const std::optional<std::string> path = AskSaveName();
    if (!path) return;
    // TIFF and HDF5 hold counts: they take the count frame; text files the view as shown.
    const std::optional<FrameFormat> format = FrameFormatFor(*path);
    FrameFileStatus status = FrameFileStatus::kOk;
    if (format == FrameFormat::kTiff || format == FrameFormat::kHdf5) {
        status = WriteCountsAsRun(*path);
    } else {
        shared_.UpdateView();
        FrameStore& frames = shared_.frames;
        status =
            WriteResultImage(*path, frames.result().first(frames.pixelsInUse()), frames.layout());
    }
    if (status != FrameFileStatus::kOk) {
        ShowFileError(shared_, status);
        return;
    }
    shared_.AddLogLine(QString::fromStdString(ImageWrittenLine(*path)));
}

void FrameFilePanel::BttnLoadDataClick() {
    const std::optional<std::string> path = shared_.dialogs().OpenFile({.title = "Select data file",
                                                                        .filter = kTextFilter,
                                                                        .initialName = "data.txt",
                                                                        .mustExist = true,
                                                                        .kind = FileKind::Frames});
    if (path) LoadFrameFile(*path);
}

bool FrameFilePanel::LoadFrameFile(const std::string& path) {
    FrameStore& frames = shared_.frames;
    // Autosaved files still being written are finished first.
    autosaver_->WaitUntilIdle();
    const FrameLoadResult loaded =
        ulvarin::LoadFrameFile(path, frames.layout(), shared_.IsOpen(), frames.counts());
    if (loaded.newChipCount) {
        const int chips = *loaded.newChipCount;
        shared_.chipCount = static_cast<uint32_t>(chips);
        frames.SetLayout({static_cast<uint8_t>(chips), frames.layout().family});
        emit chipCountLoaded();
    }
    if (!loaded.ok()) {
        ShowFileError(shared_, loaded.status);
        return false;
    }
    shared_.ImageChanged();
    shared_.AddLogLine(QString::fromStdString(ImageLoadedLine(path)));
    return true;
}

void FrameFilePanel::BttnBrowseClick() {
    const std::optional<std::string> path = AskSaveName();
    if (!path) return;
    ChkbAutoSaveFrames->setChecked(true);
    EditFileName->setText(QString::fromStdString(ShownFileName(*path)));
    autosaver_->WaitUntilIdle();
    autosaver_->name() = AutosaveTemplateFromName(*path);
}

void FrameFilePanel::LoadStepped(int delta) {
    const SteppedFile file = StepAutosave(autosaver_->name(), delta);
    if (!LoadFrameFile(file.name)) return;
    EditFileName->setText(QString::fromStdString(ShownFileName(file.name)));
    autosaver_->name().lastFileNumber = file.number;
}

void FrameFilePanel::BttnLoadPrewClick() {
    LoadStepped(-1);
}

void FrameFilePanel::BttnLoadNextClick() {
    LoadStepped(+1);
}

void FrameFilePanel::StreamToggled(bool on) {
    if (!on) {
        EndStream();
        return;
    }
    std::string error;
    const std::string endpoint = EditStreamEndpoint->text().trimmed().toStdString();
    stream_ = FrameStream::Open(endpoint, WindowRun(), 0, error);
    if (!stream_) {
        const QSignalBlocker quiet(ChkbStream);
        ChkbStream->setChecked(false);
        shared_.dialogs().Error(error, "Error");
        return;
    }
    EditStreamEndpoint->setEnabled(false);
    shared_.AddLogLine(QStringLiteral("Streaming frames from %1")
                           .arg(QString::fromStdString(stream_->endpoint())));
}

void FrameFilePanel::EndStream() {
    EditStreamEndpoint->setEnabled(true);
    if (!stream_) return;
    stream_->Close();
    shared_.AddLogLine(QStringLiteral("Stream ended: %1 frame(s) sent, %2 dropped")
                           .arg(stream_->frames())
                           .arg(stream_->dropped()));
    stream_.reset();
}

void FrameFilePanel::FrameTakenIn() {
    const FrameStore& frames = shared_.frames;
    if (stream_) {
        FrameInfo info;
        info.exposure = frames.integratedTime;
        // Sending never waits; a failure of the socket itself ends the stream.
        if (!stream_->Append(frames.counts().first(frames.pixelsInUse()), info)) {
            shared_.AddLogLine(QString::fromStdString(stream_->error()));
            const QSignalBlocker quiet(ChkbStream);
            ChkbStream->setChecked(false);
            EndStream();
        }
    }
    if (!ChkbAutoSaveFrames->isChecked()) return;
    const std::optional<std::string> path = autosaver_->Save(
        frames.counts().first(frames.pixelsInUse()), WindowRun(), frames.integratedTime);
    if (path) {
        EditFileName->setText(QString::fromStdString(ShownFileName(*path)));
    } else if (!dropReportDue_) {
        ReportDroppedFrames();
    }
}

void FrameFilePanel::ReportDroppedFrames() {
    // The first drop is told at once; those that follow within a second are told together a
    // second later, so a disk that stays behind gives one line a second.
    const uint64_t dropped = autosaver_->TakeDroppedFrames();
    dropReportDue_ = dropped > 0;
    if (!dropReportDue_) return;
    shared_.AddLogLine(QStringLiteral("Autosave could not keep up: %1 frame(s) dropped (%2 in all)")
                           .arg(dropped)
                           .arg(autosaver_->DroppedFrames()));
    QTimer::singleShot(1000, this, &FrameFilePanel::ReportDroppedFrames);
}

void FrameFilePanel::ShowAutosaveFailure() {
    const std::optional<FrameAutosaver::Failure> failure = autosaver_->TakeFailure();
    if (!failure) return;
    EditFileName->setText(QString::fromStdString(ShownFileName(failure->path)));
    ShowFileError(shared_, failure->status);
}

void FrameFilePanel::WaitForAutosaves() {
    autosaver_->WaitUntilIdle();
    QCoreApplication::sendPostedEvents(this);
}

}  // namespace ulvarin
