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
    std::optional<std::string> OpenFile(const FileRequest& request) override;
    std::optional<std::string> SaveFile(const FileRequest& request) override;

    // Boxes whose text is exactly `text`.
    int CountOf(const std::string& text) const;

    std::vector<MessageRequest> messages;
    std::vector<FileRequest> fileRequests;
    std::deque<DialogAnswer> answers;              // empty: Ok for Ok boxes, Yes otherwise
    std::deque<std::optional<std::string>> paths;  // empty: cancelled
};

}  // namespace ulvarin::test
