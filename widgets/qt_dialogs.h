// The Dialogs of the running program: real Qt message boxes and file dialogs, owned by the
// active window.
#pragma once

#include <QString>

#include "widgets/dialogs.h"

namespace ulvarin {

class QtDialogs : public Dialogs {
public:
    DialogAnswer Message(const MessageRequest& request) override;

protected:
    std::optional<std::string> AskOpenFile(const FileRequest& request) override;
    std::optional<std::string> AskSaveFile(const FileRequest& request) override;
};

// "Text file|*.txt|All files|*.*" as Qt name filters: "Text file (*.txt);;All files (*.*)".
QString QtNameFilters(const std::string& filter);
// A message text for display: "\r\n" and lone "\r" become "\n".
QString DisplayText(const std::string& text);

}  // namespace ulvarin
