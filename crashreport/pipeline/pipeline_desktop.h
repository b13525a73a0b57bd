#pragma once
// What the pipeline and the sending sequence need from the desktop besides
// the dialogs: whether the program is a GUI program, the message box, the
// clipboard and bringing the application's main window to the front. A
// program without the toolkit keeps the empty record: a console program,
// no box shown (its text goes to standard error), no clipboard.
// Nothing here is signal-safe: it runs on the reporting thread.
#include <cstdint>
#include <string>

namespace crashreport {

class TTavrelModuleOptions;

// The message box kinds the reporter shows.
enum TReporterBoxKind { bkInformation, bkError };

struct TPipelineDesktop {
    // True when the program shows windows (a GUI process).
    bool (*IsGUIProcess)() = nullptr;
    // A task-modal, top-most message box with an OK button.
    void (*MessageBox)(const std::string& text, const std::string& caption, TReporterBoxKind kind) = nullptr;
    // A task-modal, top-most question with "Yes" and "No" ("No" the
    // default); true for "Yes".
    bool (*AskYesNo)(const std::string& text, const std::string& caption, TReporterBoxKind kind) = nullptr;
    // Puts the text on the clipboard as plain text; false when it cannot.
    bool (*CopyToClipboard)(const std::string& text) = nullptr;
    // Restores and raises the application's main window (or its last
    // active pop-up).
    void (*BringApplicationToFront)() = nullptr;
    // The report's screenshot: taken (false: no picture), saved as a PNG
    // file (false: no file), released.
    bool (*CaptureScreenshot)(const TTavrelModuleOptions& options) = nullptr;
    bool (*SaveScreenshot)(const std::string& fileName) = nullptr;
    void (*ReleaseScreenshot)() = nullptr;
    // The class and caption of the active form of the faulting thread, as
    // noted on that thread when it entered the dispatcher; false when none.
    bool (*ActiveForm)(std::uint32_t threadId, std::string& className, std::string& caption) = nullptr;
};

// The reporter's desktop (reporter.h); an empty record without one.
TPipelineDesktop PipelineDesktop();

// The calls the pipeline makes; each does what a program without a desktop needs.
bool DesktopIsGUIProcess();
void DesktopMessageBox(const std::string& text, const std::string& caption, TReporterBoxKind kind);
// Without a desktop the question is not asked and the answer is "No".
bool DesktopAskYesNo(const std::string& text, const std::string& caption, TReporterBoxKind kind);
bool DesktopCopyToClipboard(const std::string& text);
void DesktopBringApplicationToFront();
void DesktopActiveForm(std::uint32_t threadId, std::string& className, std::string& caption);

} // namespace crashreport
