#pragma once
// The exception dialog: the report's message with OK, Terminate/Restart and
// Details buttons, the send, screenshot and copy check boxes and the
// support link; in detailed mode also the tab control with the report's
// pages, a resizable frame with the maximise box, and the size, position and
// show state kept in the state file. Runs modally on the reporting thread.
#include <memory>
#include <vector>

#include "crashreport/report/report_dialogs.h"
#include "crashreport/ui/dialog_fonts.h"
#include "crashreport/ui/state_file.h"
#include "crashreport/ui/tab_pages.h"
#include "platform/ui/button.h"
#include "platform/ui/form.h"
#include "platform/ui/tab_control.h"

namespace crashreport::ui {

// Control identifiers of the dialog.
enum : int {
    idOK = 2,
    idTerminate = 3,
    idDetails = 4,
    idMessage = 101,
    idTabs = 1000,
    idSendBox = 3000,
    idScreenshotBox = 4000,
    idCopyBox = 5000,
};

// Timers of the dialog.
enum : unsigned { tmPaintCheck = 1, tmAutoClose = 2, tmTopMost = 3 };

// The window state numbers of the state file.
enum : int { wsStateNormal = 1, wsStateMaximized = 3, wsStateMinimized = 6 };

class TExceptionDialog : public ::ui::Form {
public:
    TExceptionDialog(TDialogReport& report, TReportChoices& choices, TStateFile& state);
    ~TExceptionDialog() override;

    // Shows the dialog modally; afterwards the choices hold the check boxes
    // and the terminate flag. False when the dialog never painted.
    bool Execute();

    bool Detailed() const { return detailed_; }
    // Switches the display mode (the Details button); leaving detailed mode
    // saves the state file first.
    void ToggleMode();
    bool Painted() const { return painted_; }
    int ExtraHeight() const { return extraHeight_; }
    int ButtonWidth() const { return buttonWidth_; }
    int AutoCloseCount() const { return autoCloseCount_; }

    // The pages of the visible tabs, in tab order, and the one shown.
    const std::vector<TPageKind>& VisiblePages() const { return pages_; }
    TReportPage* Page() const { return page_.get(); }
    void SelectPage(int tabIndex);

    ::ui::Button* OkButton() const { return ok_; }
    ::ui::Button* TerminateButton() const { return terminate_; }
    ::ui::Button* DetailsButton() const { return details_; }
    ::ui::StaticText* Message() const { return message_; }
    ::ui::TabControl* Tabs() const { return tabs_; }
    ::ui::CheckBox* SendBox() const { return sendBox_; }
    ::ui::CheckBox* ScreenshotBox() const { return screenshotBox_; }
    ::ui::CheckBox* CopyBox() const { return copyBox_; }
    bool SupportLinkShown() const { return !supportRect_.IsEmpty(); }
    ::ui::TRect SupportLinkRect() const { return supportRect_; }

    // Writes the detailed window's placement (nothing before one was seen).
    void SaveState();
    // Restarts the auto-close count (every user input does).
    void UserInput() { autoCloseCount_ = 0; }
    // The top-most check: a window of this process that was there when the
    // dialog opened and took the foreground gives it back to the dialog.
    void CheckForeground();
    // What a click on the support link does: xdg-open with SupportPage.
    void OpenSupportPage();

    void Paint(gdi::Canvas& canvas) override;
    ::ui::LRESULT WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam) override;

protected:
    void Resized() override;
    void MouseMove(::ui::TPoint p, unsigned flags) override;
    void MouseUp(::ui::TPoint p, unsigned button, unsigned flags) override;

private:
    void ApplyMode();
    void ApplySimpleSize();
    void ApplyDetailedPlacement();
    void Layout();
    void RememberPlacement();
    void CreatePage(TPageKind kind);
    void WatchInput(::ui::Window& window);

    TDialogReport& report_;
    TReportChoices& choices_;
    TStateFile& state_;
    const TTavrelModuleOptions& options_;
    TDialogFonts fonts_;
    bool detailed_ = false;
    bool painted_ = false;
    int extraHeight_ = 0;
    int buttonWidth_ = 75;
    int autoCloseCount_ = 0;
    bool showSend_ = false, showScreenshot_ = false, showCopy_ = false, showLink_ = false;
    // The remembered placement of the detailed window.
    int windowState_ = wsStateNormal;
    int savedLeft_ = 0, savedTop_ = 0, savedWidth_ = 0, savedHeight_ = 0;
    bool haveWidth_ = false;
    bool terminatePressed_ = false;
    bool hoverLink_ = false;
    ::ui::TRect supportRect_{};
    std::vector<::ui::HWND> windowsAtOpen_;
    gdi::TColor background_ =
        gdi::clBtnFace; // the own look's colour with dfOwnLook // the process's windows when the dialog opened

    ::ui::Button* ok_ = nullptr;
    ::ui::Button* terminate_ = nullptr;
    ::ui::Button* details_ = nullptr;
    ::ui::StaticText* message_ = nullptr;
    ::ui::TabControl* tabs_ = nullptr;
    ::ui::CheckBox* sendBox_ = nullptr;
    ::ui::CheckBox* screenshotBox_ = nullptr;
    ::ui::CheckBox* copyBox_ = nullptr;
    std::vector<TPageKind> pages_;
    std::unique_ptr<TReportPage> page_;
};

// The tab index FirstTab opens on, given which optional pages exist.
int FirstTabIndex(int firstTab, bool modules, bool cpu, bool other);

// Shows the dialog for a report; vetoed terminations show it again. False
// when it could not be shown.
bool ShowExceptionDialog(TDialogReport& report, TReportChoices& choices);

} // namespace crashreport::ui
