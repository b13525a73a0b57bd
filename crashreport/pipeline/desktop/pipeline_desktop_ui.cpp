#include "crashreport/pipeline/desktop/pipeline_desktop_ui.h"

#include "crashreport/binding/handling_thread.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/freeze/freeze_thread.h"
#include "crashreport/capture/exception_class.h"
#include "crashreport/capture/waiting_pump.h"
#include "crashreport/delivery/screenshot/screenshot.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/sysinfo/display_mode_query.h"
#include "crashreport/ui/install.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/form.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/message_box.h"

#include <atomic>
#include <mutex>
#include <typeinfo>

namespace crashreport {
namespace {

constexpr unsigned kTaskModal = 0x2000, kTopMost = 0x40000;

std::atomic<bool> g_installed{false};
thread_local bool t_insideApplicationHandler = false;

// A program of the toolkit, or any program with a display: the dialogs run
// on the reporter's own display connection and thread, whatever toolkit
// (if any) the program draws with. Without a display the report goes to
// the console.
bool IsGUIProcess() { return ::ui::App().Initialized() || ::ui::CurrentBackend() == ::ui::BackendKind::bkX11; }

void ShowBox(const std::string& text, const std::string& caption, TReporterBoxKind kind)
{
    const unsigned icon = kind == bkError ? ::ui::MB_ICONERROR : ::ui::MB_ICONINFORMATION;
    ::ui::ShowMessageBox(nullptr, text, caption, ::ui::MB_OK | icon | kTaskModal | kTopMost);
}

bool AskYesNo(const std::string& text, const std::string& caption, TReporterBoxKind kind)
{
    const unsigned icon = kind == bkError ? ::ui::MB_ICONERROR : ::ui::MB_ICONQUESTION;
    return ::ui::ShowMessageBox(nullptr, text, caption, ::ui::MB_YESNO | icon | kTaskModal | kTopMost) ==
        ::ui::mrYes;
}

// Asks the main window's thread to restore its window and bring it (or its
// active pop-up) to the front; the thread does it when it next pumps.
void BringApplicationToFront()
{
    if (::ui::Form* main = ::ui::App().MainForm()) ::ui::PostMessage(main->Handle(), ::ui::WM_SYSCOMMAND, ::ui::SC_RESTORE);
}

bool CopyText(const std::string& text) { return ::ui::Clipboard().SetText(text); }

bool Capture(const TTavrelModuleOptions& options) { return screenshot::CaptureReportScreenshot(&options); }
bool Save(const std::string& fileName) { return screenshot::SaveReportScreenshot(fileName); }
void Release() { screenshot::ReleaseReportScreenshot(); }

TTavrelModuleOptions* ReporterOptions()
{
    return ExceptionCaptureStarted() ? &CurrentTavrelLogOptions() : nullptr;
}

// The address the capture recorded for this object, when it was the last one.
void* CapturedAddressOf(const void* object)
{
    const TLastException last = LastExceptionCopy();
    return last.Object.Object == object ? last.Address : nullptr;
}

class TInsideApplicationHandler {
public:
    TInsideApplicationHandler() { t_insideApplicationHandler = true; }
    ~TInsideApplicationHandler() { t_insideApplicationHandler = false; }
    TInsideApplicationHandler(const TInsideApplicationHandler&) = delete;
    TInsideApplicationHandler& operator=(const TInsideApplicationHandler&) = delete;
};

// The active form of the thread that entered the dispatcher last, noted on
// that thread together with its focused control.
std::mutex g_formLock;
std::uint32_t g_formThread = 0;
std::string g_formClass, g_formCaption;

void FillFocusAndForm(TExceptNotifyParams& params)
{
    FillFocusOfThisThread(params);
    std::string className, caption;
    if (::ui::CurrentQueueIfAny())
        if (::ui::Form* form = ::ui::ActiveForm()) {
            char name[256];
            ShortClassName(typeid(*form), name, sizeof name);
            className = name;
            caption = form->Caption();
        }
    std::lock_guard<std::mutex> lock(g_formLock);
    g_formThread = kernel::GetCurrentThreadId();
    g_formClass = className;
    g_formCaption = caption;
}

bool ActiveFormOf(std::uint32_t threadId, std::string& className, std::string& caption)
{
    std::lock_guard<std::mutex> lock(g_formLock);
    if (threadId != g_formThread || g_formClass.empty()) return false;
    className = g_formClass;
    caption = g_formCaption;
    return true;
}

} // namespace

void HandleApplicationException(std::exception_ptr exception)
{
    ::ui::Application& app = ::ui::App();
    if (!exception) return;
    // Raised during a report, or while this handler runs already: the
    // framework's own handling, no second report.
    if (t_insideApplicationHandler || InsideDispatch() || !ExceptionCaptureStarted()) {
        app.ShowException(exception);
        return;
    }
    TInsideApplicationHandler inside;
    bool defaultHandling = true;
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        defaultHandling = ExceptionManager(const_cast<std::exception*>(&e), &typeid(e), CapturedAddressOf(&e),
                                           rkApplication, 0);
    } catch (...) {
        defaultHandling = true; // not a language exception the reporter can describe
    }
    if (defaultHandling) app.ShowException(exception);
}

TReporterParts DesktopReporterParts()
{
    TReporterParts parts;
    TPipelineDesktop& desktop = parts.Desktop;
    desktop.IsGUIProcess = &IsGUIProcess;
    desktop.MessageBox = &ShowBox;
    desktop.AskYesNo = &AskYesNo;
    desktop.BringApplicationToFront = &BringApplicationToFront;
    desktop.CopyToClipboard = &CopyText;
    desktop.CaptureScreenshot = &Capture;
    desktop.SaveScreenshot = &Save;
    desktop.ReleaseScreenshot = &Release;
    desktop.ActiveForm = &ActiveFormOf;
    parts.Dialogs = crashreport::ui::ToolkitReportDialogs();
    parts.PumpWaiting = &WaitingPumpRound;
    parts.FillFocus = &FillFocusAndForm;
    return parts;
}

void StartDesktopReporter()
{
    if (g_installed.exchange(true)) return;
    StartReporter(DesktopReporterParts());
    InstallDisplayModeQuery();
    ::ui::App().OnException = &HandleApplicationException;
    SetCurrentOptionsQuery(&ReporterOptions);
    InstallFreezeWatchControl();
    StartFreezeWatch(); // nothing unless the options ask for it
}

} // namespace crashreport
