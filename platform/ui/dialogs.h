#pragma once
// The modal dialogs that the converter and the recorder show: file dialogs,
// message boxes and the message dialog. They go through a replaceable
// provider so that the same callers run with real windows, in a terminal, or
// scripted by a test. Without a provider, every dialog is cancelled.
#include <memory>
#include <string>

namespace ui {

struct Window; // a top-level window of the toolkit; nullptr means "the application"

// File dialog options (the ones callers pass; others are ignored).
enum FileDialogOption : unsigned {
    ofHideReadOnly = 1u << 0,
    ofNoReadOnlyReturn = 1u << 1,
    ofOverwritePrompt = 1u << 2,
    ofFileMustExist = 1u << 3,
    ofPathMustExist = 1u << 4,
};

struct FileDialogRequest {
    std::string title;
    std::string filter;     // "Description|pattern|Description|pattern"
    std::string defaultExt; // without the dot; added when the typed name has none
    std::string initialDir;
    std::string fileName; // initial name
    unsigned options = 0;
    Window* owner = nullptr;
};

// Message-dialog types and buttons of the framework's MessageDlg.
enum class MsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum MsgDlgButton : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };

// Results shared by MessageDlg and MessageBox.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// MessageBox flags (the low bits: buttons, then icons).
enum MessageBoxFlag : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100, // the second button is the default, not the first
};

class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    // Returns true and sets path when the user confirms.
    virtual bool OpenFile(const FileDialogRequest& request, std::string& path) = 0;
    virtual bool SaveFile(const FileDialogRequest& request, std::string& path) = 0;
    // Texts are UTF-8. Returns an ModalResult.
    virtual int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons) = 0;
    virtual int MessageBox(Window* owner, const std::string& text, const std::string& caption, unsigned flags) = 0;
};

// Installs the provider used from now on (nullptr: every dialog is cancelled)
// and returns the one it replaces. The caller keeps ownership.
DialogProvider* SetDialogProvider(DialogProvider* provider);
DialogProvider* CurrentDialogProvider();

bool OpenFileDialog(const FileDialogRequest& request, std::string& path);
bool SaveFileDialog(const FileDialogRequest& request, std::string& path);
int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons);
int MessageBox(Window* owner, const std::string& text, const std::string& caption, unsigned flags);

// Installs a provider for the lifetime of this object, then puts back the previous one.
class ScopedDialogProvider {
public:
    explicit ScopedDialogProvider(DialogProvider* provider) : previous_(SetDialogProvider(provider)) {}
    ~ScopedDialogProvider() { SetDialogProvider(previous_); }
    ScopedDialogProvider(const ScopedDialogProvider&) = delete;
    ScopedDialogProvider& operator=(const ScopedDialogProvider&) = delete;

private:
    DialogProvider* previous_;
};

} // namespace ui
