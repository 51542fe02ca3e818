// Every message box, question and file dialog of the windows goes through one interface,
// so tests can install a scripted one that records each call and answers it. File dialogs
// remember the folder last chosen for each kind of file, for the session and, once given a
// file to keep them in, across restarts.
#pragma once

#include <map>
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

// What a file dialog is for: dialogs of one kind share the folder last chosen in any of
// them (the mask "Set Mask" loads opens where the equalisation saved one).
enum class FileKind { None, Masks, Frames, Configurations, Spectra, Curves, Results, Plots };

// "mask", "frames", ...; "" for None. The names the folder file keeps them under.
const char* FileKindName(FileKind kind);

struct FileRequest {
    std::string title;
    std::string filter;  // "Text file|*.txt|All files|*.*": name and pattern pairs
    std::string initialName;
    std::string defaultExtension;  // without the dot; appended to a name without one
    bool overwritePrompt = false;  // save: ask before replacing a file
    bool mustExist = false;        // open: only existing files
    FileKind kind = FileKind::None;
    // The folder the dialog opens in; empty: the one `initialName` names, else the current.
    // Filled from the folder remembered for `kind` when it still exists, and then
    // `initialName` is reduced to its file name.
    std::string folder;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal message box and returns the button pressed.
    virtual DialogAnswer Message(const MessageRequest& request) = 0;
    // Asks for a file to open or to save; nullopt when cancelled. The dialog starts in the
    // folder remembered for the request's kind; the folder of the file chosen is remembered.
    std::optional<std::string> OpenFile(const FileRequest& request);
    std::optional<std::string> SaveFile(const FileRequest& request);

    // An OK box with the error icon.
    void Error(const std::string& text, const std::string& caption) {
        Message({text, caption, DialogIcon::Error, DialogButtons::Ok});
    }

    // The folder remembered for `kind`; "" when none.
    std::string RememberedFolder(FileKind kind) const;
    // Keeps the remembered folders in `path` from now on: reads those it holds (a missing
    // or unreadable file holds none) and rewrites it whenever one changes, making its
    // folder if needed. A file that cannot be written costs only the memory across
    // restarts. An empty path keeps them for the session only.
    void KeepFoldersIn(const std::string& path);

protected:
    // The dialog itself, with the start folder already filled in.
    virtual std::optional<std::string> AskOpenFile(const FileRequest& request) = 0;
    virtual std::optional<std::string> AskSaveFile(const FileRequest& request) = 0;

private:
    FileRequest WithFolder(const FileRequest& request) const;
    void Remember(FileKind kind, const std::optional<std::string>& chosen);

    std::map<std::string, std::string> folders_;  // by kind name
    std::string foldersFile_;
};

// The dialogs every window uses: the installed ones, else the Qt dialogs.
Dialogs& CurrentDialogs();
// Installs `dialogs` for every later call (nullptr restores the Qt dialogs).
void InstallDialogs(std::shared_ptr<Dialogs> dialogs);

}  // namespace ulvarin
