#include "converter/gui/main_form.h"

#include "converter/conversion_run.h"
#include "converter/gui/recorder_dialogs.h"
#include "converter/interrupt.h"
#include "converter/texts.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/message_queue.h"

namespace converter::gui {

TForm1* Form1 = nullptr;

namespace {
// How often a running conversion serves the window's paint requests.
constexpr std::uint64_t kPaintIntervalMs = 40;
// How often a dialog of a run looks for a signal to end the program.
constexpr unsigned kInterruptCheckMs = 100;

// While a run holds the signals that end the program, a dialog of the run
// (save, overwrite, compression, completion) waiting for the user would keep
// the program alive: a signal noted meanwhile cancels the dialogs, the run
// declines and the program then ends by the signal. The handler only notes
// the signal (nothing else is safe there), so the dialogs look for it.
class CancelDialogsOnInterrupt {
public:
    CancelDialogsOnInterrupt()
        : timer_(ui::SetTimer(0, 0, kInterruptCheckMs, [](ui::HWND, std::uintptr_t) {
              if (PendingInterrupt() == 0) return;
              for (ui::Form* form : ui::ThreadForms())
                  if (form->IsModal()) form->ModalResult = ui::mrCancel;
          }))
    {
    }
    ~CancelDialogsOnInterrupt() { ui::KillTimer(0, timer_); }
    CancelDialogsOnInterrupt(const CancelDialogsOnInterrupt&) = delete;
    CancelDialogsOnInterrupt& operator=(const CancelDialogsOnInterrupt&) = delete;

private:
    std::uintptr_t timer_;
};
} // namespace

TForm1::TForm1()
{
    Name = "Form1";
    SetCaption("Vek to avi Converter");
    Border = ui::BorderStyle::bsDialog;
    Position = ui::FormPosition::poDesigned;
    SetBounds(211, 210, 419, 128);
    Color = gdi::clBtnFace;
    Font = gdi::TFont{}; // "MS Sans Serif", height -11, window-text colour
    Font.Name = "MS Sans Serif";
    Font.Height = -11;
    Font.PixelsPerInch = 96;

    // Controls in creation order, as laid out.
    Gauge1.Name = "Gauge1";
    Gauge1.SetBounds(48, 72, 249, 20);
    Gauge1.SetForeColor(gdi::clGradientActiveCaption);
    Gauge1.SetProgress(0);
    gaugeHost_ = std::make_unique<GraphicControlHost>(this, Gauge1);
    gaugeHost_->Name = "Gauge1";

    Button1 = Add<ui::Button>("Open a file");
    Button1->Name = "Button1";
    Button1->SetBounds(312, 24, 85, 25);
    Button1->TabOrder = 0;
    Button1->OnClick = [this] { Button1Click(); };

    Edit1 = Add<ui::Edit>();
    Edit1->Name = "Edit1";
    Edit1->SetBounds(48, 24, 249, 21);
    Edit1->TabOrder = 1;
    // The gauge tells about the file in the box: a new one, typed or
    // chosen, starts at 0.
    Edit1->OnChange = [this] { Gauge1.SetProgress(0); };

    Button2 = Add<ui::Button>("Start");
    Button2->Name = "Button2";
    Button2->SetBounds(312, 72, 85, 25);
    Button2->TabOrder = 2;
    Button2->OnClick = [this] { Button2Click(); };

    OpenDialog1.Name = "OpenDialog1";
    OpenDialog1.Filter = "Vek files(*.vek)|*.vek";
    OpenDialog1.OwnerWindow = this;
    SaveDialog1.Name = "SaveDialog1";
    SaveDialog1.OwnerWindow = this;
}

void TForm1::Button1Click()
{
    if (!OpenDialog1.Execute()) return;
    Edit1->SetText(OpenDialog1.FileName);
    Gauge1.SetProgress(0);
}

void TForm1::Button2Click()
{
    const std::string input = Edit1->Text();
    TRecorderDialogs dialogs(SuggestedOutputName(input), &compression_);
    ConversionHooks hooks;
    hooks.decisions = &dialogs;
    Gauge1.SetProgress(0);
    // The run blocks the message loop; the window's paint requests (after a
    // dialog closed over it, say) are served now and then, and a request to
    // close the window is taken out of the queue, which stops the run. Other
    // input waits.
    std::uint64_t lastPaint = 0;
    bool closeRequested = false;
    hooks.progress = [this, &lastPaint, &closeRequested](int value) {
        Gauge1.SetProgress(value);
        const std::uint64_t now = ui::TickCount();
        if (lastPaint == 0 || now - lastPaint >= kPaintIntervalMs) {
            lastPaint = now == 0 ? 1 : now;
            ui::PumpPaints();
            ui::Msg m;
            if (ui::PeekMessage(m, Handle(), ui::WM_CLOSE, ui::WM_CLOSE, ui::PM_REMOVE)) closeRequested = true;
        }
    };
    hooks.completed = [this](const CompletedRun& run) {
        Gauge1.SetProgress(100);
        const bool chinese = LocaleWantsChinese();
        std::string text = CompletionText(run.outputPath, chinese);
        if (run.framesOverDataRate > 0)
            text += "\n\n" + DataRateNotKeptText(run.dataRate, run.framesOverDataRate, run.frames, chinese);
        ui::MessageBox(this, text, CompletionCaption(chinese),
                       ui::MB_OK | (run.framesOverDataRate > 0 ? ui::MB_ICONWARNING : ui::MB_OK));
    };
    // A signal to end the program during the run stops the run first, so
    // that its unfinished file goes, and then ends the program by it.
    DeferInterrupts deferred;
    CancelDialogsOnInterrupt cancelling;
    hooks.stopRequested = [&closeRequested] { return closeRequested || PendingInterrupt() != 0; };
    try {
        // Failures propagate to the application's exception handling. A
        // declined save or overwrite question ends the run quietly: nothing
        // was written, so nothing is reported as done.
        RunConversion(input, hooks);
    } catch (const EInterrupted&) {
        Gauge1.SetProgress(0);
        if (const int signal = PendingInterrupt()) EndByInterrupt(signal);
        // The window was closed during the run: it closes now that the
        // unfinished file is gone.
        Close();
        return;
    } catch (...) {
        Gauge1.SetProgress(0);
        throw;
    }
    if (const int signal = PendingInterrupt()) EndByInterrupt(signal);
}

} // namespace converter::gui
