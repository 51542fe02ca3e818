// Frame files: saving the view as shown, loading a frame, and autosaving every frame taken
// in under a numbered file name, with stepping back and forth through the numbered files.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "files/frame_autosaver.h"
#include "files/frame_file.h"
#include "stream/frame_stream.h"
#include "files/frame_writer.h"

class QCheckBox;
class QLineEdit;

namespace ulvarin {

class WindowShared;

class FrameFilePanel : public QWidget {
    Q_OBJECT
public:
    FrameFilePanel(WindowShared& shared, QWidget* parent);
    ~FrameFilePanel() override;

    // "Save Image Data": the view as shown, to a file the operator chooses.
    void BttnSaveDataClick();
    // "Load Raw Data ...": a frame file the operator chooses.
    void BttnLoadDataClick();
    // "...": the autosave template from a chosen name; switches autosave on.
    void BttnBrowseClick();
    // "<<" and ">>": the numbered file before or after the last one saved or loaded.
    void BttnLoadPrewClick();
    void BttnLoadNextClick();

    // Reads a frame file into the count frame and shows it; errors in a box. True on success.
    bool LoadFrameFile(const std::string& path);
    // A frame was taken in: autosaves it when "Autosave" is checked, and streams it when
    // "Stream" is.
    void FrameTakenIn();

    const AutosaveTemplate& autosaveName() const { return autosaver_->name(); }
    // Whether the image shows flat-field corrected counts (the image group knows); files then
    // record the factors.
    std::function<bool()> flatFieldShown;
    // Returns when every autosaved frame queued so far is on disk (or has failed).
    void WaitForAutosaves();

signals:
    // A file set the chip count, with no interface open to govern it.
    void chipCountLoaded();

private:
    void ConnectControls();
    void LoadStepped(int delta);
    void ShowAutosaveFailure();
    // Puts the frames autosave dropped since the last report in the message list.
    void ReportDroppedFrames();
    std::optional<std::string> AskSaveName();
    // What a saved frame records of the window's state.
    RunDescription WindowRun();
    // The count frame as one frame of a TIFF or HDF5 file.
    FrameFileStatus WriteCountsAsRun(const std::string& path);
    // The open interface's firmware text, asked of it once per open.
    const std::string& Firmware();
    // "Stream" checked: opens the stream at the endpoint shown (a box and unchecked when it
    // cannot); unchecked: ends the series and tells what was sent.
    void StreamToggled(bool on);
    void EndStream();

    WindowShared& shared_;
    QCheckBox* ChkbAutoSaveFrames = nullptr;
    QLineEdit* EditFileName = nullptr;
    QCheckBox* ChkbStream = nullptr;
    QLineEdit* EditStreamEndpoint = nullptr;
    std::unique_ptr<FrameStream> stream_;
    std::unique_ptr<FrameAutosaver> autosaver_;
    bool dropReportDue_ = false;  // a report of dropped frames is scheduled
    std::optional<std::string> firmware_;  // of the interface open now, once asked
};

}  // namespace ulvarin
