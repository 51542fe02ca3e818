#include "tests/app/scripted_dialogs.h"

#include <algorithm>

namespace ulvarin::test {

DialogAnswer ScriptedDialogs::Message(const MessageRequest& request) {
    messages.push_back(request);
    if (!answers.empty()) {
        const DialogAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    const bool yes =
        request.buttons == DialogButtons::YesNo || request.buttons == DialogButtons::YesNoCancel;
    return yes ? DialogAnswer::Yes : DialogAnswer::Ok;
}

std::optional<std::string> ScriptedDialogs::Answer(const FileRequest& request, bool save) {
    fileRequests.push_back(request);
    saves.push_back(save);
    if (paths.empty()) return std::nullopt;
    auto path = paths.front();
    paths.pop_front();
    return path;
}

std::optional<std::string> ScriptedDialogs::AskOpenFile(const FileRequest& request) {
    return Answer(request, false);
}

std::optional<std::string> ScriptedDialogs::AskSaveFile(const FileRequest& request) {
    return Answer(request, true);
}

int ScriptedDialogs::CountOf(const std::string& text) const {
    return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                          [&](const MessageRequest& m) { return m.text == text; }));
}

}  // namespace ulvarin::test
