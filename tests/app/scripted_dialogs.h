// Dialogs for tests: records every box and file dialog and answers from a script.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "widgets/dialogs.h"

namespace ulvarin::test {

class ScriptedDialogs : public Dialogs {
public:
    DialogAnswer Message(const MessageRequest& request) override;

    // Boxes whose text is exactly `text`.
    int CountOf(const std::string& text) const;

    std::vector<MessageRequest> messages;
    // Each file dialog as it was shown: its start folder filled in from the folders
    // remembered; `saves` tells a save dialog from an open one.
    std::vector<FileRequest> fileRequests;
    std::vector<bool> saves;
    std::deque<DialogAnswer> answers;              // empty: Ok for Ok boxes, Yes otherwise
    std::deque<std::optional<std::string>> paths;  // empty: cancelled

protected:
    std::optional<std::string> AskOpenFile(const FileRequest& request) override;
    std::optional<std::string> AskSaveFile(const FileRequest& request) override;

private:
    std::optional<std::string> Answer(const FileRequest& request, bool save);
};

}  // namespace ulvarin::test
