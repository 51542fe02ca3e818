// Every message box, question and file dialog of the windows goes through one interface,
// so tests can install a scripted one that records each call and answers it.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace ulvarin {

enum class DialogIcon { None, Information, Warning, Error, Question };
enum class DialogButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class DialogAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
    std::string text;  // line breaks as "\r" or "\n", as the caller wrote them
    std::string caption;
    DialogIcon icon = DialogIcon::None;
    DialogButtons buttons = DialogButtons::Ok;
};

struct FileRequest {
    std::string title;
    std::string filter;  // "Text file|*.txt|All files|*.*": name and pattern pairs
    std::string initialName;
    std::string defaultExtension;  // without the dot; appended to a name without one
    bool overwritePrompt = false;  // save: ask before replacing a file
    bool mustExist = false;        // open: only existing files
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal message box and returns the button pressed.
    virtual DialogAnswer Message(const MessageRequest& request) = 0;
    // Asks for a file to open or to save; nullopt when cancelled.
    virtual std::optional<std::string> OpenFile(const FileRequest& request) = 0;
    virtual std::optional<std::string> SaveFile(const FileRequest& request) = 0;

    // An OK box with the error icon.
    void Error(const std::string& text, const std::string& caption) {
        Message({text, caption, DialogIcon::Error, DialogButtons::Ok});
    }
};

// The dialogs every window uses: the installed ones, else the Qt dialogs.
Dialogs& CurrentDialogs();
// Installs `dialogs` for every later call (nullptr restores the Qt dialogs).
void InstallDialogs(std::shared_ptr<Dialogs> dialogs);

}  // namespace ulvarin
