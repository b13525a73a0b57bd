#include "crashreport/ui/send_dialog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/ui/dialog_fonts.h"
#include "platform/kernel/process.h"
#include "platform/rtl/format.h"
#include "platform/rtl/thread.h"
#include "platform/ui/button.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/form.h"
#include "platform/ui/progress_bar.h"

namespace crashreport::ui {

namespace {

std::atomic<::ui::HWND> g_dialog{0};
std::atomic<::ui::HWND> g_progress{0};
std::atomic<bool> g_ready{false};
std::atomic<int> g_number{1}, g_count{1};
constexpr int kHighestPriority = 2; // THREAD_PRIORITY_HIGHEST
std::mutex g_textsMutex;
// Texts 76 to 80 of the running dialog's options: the prefix and the stages.
std::array<std::string, 5> g_texts = {"Message", "Resolving DNS...", "Connecting with server...",
                                      "Connected with server.", "Sending message..."};

std::string SendText(int index)
{
    std::lock_guard lock(g_textsMutex);
    return g_texts.at(static_cast<size_t>(index - 76));
}

class TSendForm : public ::ui::Form {
public:
    explicit TSendForm(const std::string& caption)
    {
        const TDialogFonts fonts = MakeDialogFonts();
        Font = fonts.Dialog;
        Border = ::ui::BorderStyle::bsDialog;
        Position = ::ui::FormPosition::poScreenCenter;
        SetCaption(caption);
        const ::ui::DialogBaseUnits du = ::ui::BaseUnitsOf(fonts.Dialog);
        const ::ui::TRect frame = ::ui::DialogRect(du, 0, 0, 186, 34);
        SetBounds(0, 0, frame.Width(), frame.Height() + 8);
        status = Add<::ui::StaticText>("Static");
        status->Id = 100;
        status->Font = fonts.Dialog;
        status->WordWrap = false;
        const ::ui::TRect s = ::ui::DialogRect(du, 8, 6, 171, 10);
        status->SetBounds(s.Left, s.Top, s.Width(), s.Height());
        progress = Add<::ui::ProgressBar>();
        progress->Id = 101;
        const ::ui::TRect p = ::ui::DialogRect(du, 8, 16, 170, 10);
        progress->SetBounds(p.Left, p.Top + 4, p.Width(), p.Height());
        EscapeCancels = false;
        OnCloseQuery = [](::ui::Form&) { return false; }; // only the sending code ends it
    }
    ::ui::LRESULT WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam) override
    {
        if (message == kSendDialogClose) {
            ModalResult = ::ui::mrOk;
            // A sent message does not end the wait of the modal loop: a
            // posted one wakes it to see the result.
            ::ui::PostMessage(Handle(), ::ui::WM_NULL);
            return 1;
        }
        if (message == kSendDialogStatus) {
            status->SetText(*reinterpret_cast<const std::string*>(lParam));
            status->Repaint();
            return 1;
        }
        if (message == kSendDialogGetStatus) {
            *reinterpret_cast<std::string*>(lParam) = status->Text();
            return 1;
        }
        if (message == ::ui::WM_PAINT) g_ready = true;
        return ::ui::Form::WndProc(message, wParam, lParam);
    }
    ::ui::StaticText* status = nullptr;
    ::ui::ProgressBar* progress = nullptr;
};

class TSendDialogThread : public rtl::TThread {
public:
    explicit TSendDialogThread(std::string caption) : rtl::TThread(true), caption_(std::move(caption))
    {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override
    {
        try {
            TSendForm form(caption_);
            g_progress = form.progress->Handle();
            g_dialog = form.Handle();
            SetSendingProgressWindow(form.Handle());
            form.ShowModal();
            SetSendingProgressWindow(0);
            g_dialog = 0;
            g_progress = 0;
        } catch (...) {
            SetSendingProgressWindow(0);
            g_dialog = 0;
            g_progress = 0;
        }
        g_ready = true; // a dialog that failed must not keep its starter waiting
    }

private:
    std::string caption_;
};

} // namespace

void StartSendDialog(const TTavrelModuleOptions& options)
{
    g_dialog = 0;
    if (!options.SendFlags().Contains(sfShowSendDialogs)) return;
    if (options.MailMethod() == mmNone && options.WebMethod() == wmNone) return;
    {
        std::lock_guard lock(g_textsMutex);
        for (int i = 0; i < 5; ++i) g_texts[static_cast<size_t>(i)] = options.GetText(static_cast<std::size_t>(76 + i));
    }
    g_ready = false;
    g_number = 1;
    g_count = 1;
    auto* thread = rtl::TThread::Create<TSendDialogThread>(options.GetText(75));
    thread->SetPriority(kHighestPriority);
    thread->Resume();
    while (!g_ready) kernel::Sleep(50);
}

void SetSendStatusText(const std::string& text)
{
    if (const ::ui::HWND h = g_dialog)
        ::ui::SendMessage(h, kSendDialogStatus, 0, reinterpret_cast<::ui::LPARAM>(&text));
}

void SetSendStatus(const std::string& text)
{
    const std::string prefix = SendText(76);
    SetSendStatusText(rtl::Format("%s %d/%d: ", prefix.c_str(), g_number.load(), g_count.load()) + text);
}

void SetSendRecipient(int number, int count)
{
    g_number = number;
    g_count = count;
}

void SetSendProgress(int percent)
{
    if (const ::ui::HWND h = g_progress)
        ::ui::SendMessage(h, ::ui::PBM_SETPOS, static_cast<::ui::WPARAM>(std::clamp(percent, 0, 100)), 0);
}

void CloseSendDialog()
{
    if (const ::ui::HWND h = g_dialog) ::ui::SendMessage(h, kSendDialogClose);
}

void WebSendProgress(int stage, long long total, long long done)
{
    switch (stage) {
    case 0:
        SetSendProgress(0);
        SetSendStatusText(SendText(78));
        break;
    case 1: SetSendStatusText(SendText(79)); break;
    case 2:
        SetSendStatusText(SendText(80));
        if (total > 0)
            SetSendProgress(
                static_cast<int>(std::lround(static_cast<double>(done) / static_cast<double>(total) * 100.0)));
        break;
    default: break;
    }
}

::ui::HWND SendDialogHandle() { return g_dialog; }

std::string SendDialogStatus()
{
    std::string text;
    if (const ::ui::HWND h = g_dialog)
        ::ui::SendMessage(h, kSendDialogGetStatus, 0, reinterpret_cast<::ui::LPARAM>(&text));
    return text;
}

int SendDialogProgress()
{
    const ::ui::HWND h = g_progress;
    return h ? static_cast<int>(::ui::SendMessage(h, ::ui::PBM_GETPOS)) : -1;
}

} // namespace crashreport::ui
