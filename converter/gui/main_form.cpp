#include "converter/gui/main_form.h"

#include "converter/conversion_run.h"
#include "converter/gui/recorder_dialogs.h"
#include "converter/interrupt.h"
#include "platform/rtl/codepage.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/message_queue.h"

namespace converter::gui {

TForm1* Form1 = nullptr;

namespace {
// How often a running conversion serves the window's paint requests.
constexpr std::uint64_t kPaintIntervalMs = 40;
} // namespace

// "AVI文件转换" and "AVI文件转换成功" in code page 936.
const char kCompletionCaption936[] = "AVI\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB";
const char kCompletionText936[] = "AVI\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6";

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
    if (OpenDialog1.Execute()) Edit1->SetText(OpenDialog1.FileName);
}

void TForm1::Button2Click()
{
    const std::string input = Edit1->Text();
    TRecorderDialogs dialogs(SuggestedOutputName(input));
    ConversionHooks hooks;
    hooks.decisions = &dialogs;
    // The run blocks the message loop; the window's paint requests (after a
    // dialog closed over it, say) are served now and then, input waits.
    std::uint64_t lastPaint = 0;
    hooks.progress = [this, &lastPaint](int value) {
        Gauge1.SetProgress(value);
        const std::uint64_t now = ui::TickCount();
        if (lastPaint == 0 || now - lastPaint >= kPaintIntervalMs) {
            lastPaint = now == 0 ? 1 : now;
            ui::PumpPaints();
        }
    };
    hooks.completed = [this] {
        ui::MessageBox(this, rtl::CP936ToUtf8(kCompletionText936), rtl::CP936ToUtf8(kCompletionCaption936), ui::MB_OK);
    };
    // A signal to end the program during the run stops the run first, so
    // that its unfinished file goes, and then ends the program by it.
    DeferInterrupts deferred;
    hooks.stopRequested = [] { return PendingInterrupt() != 0; };
    try {
        // Failures propagate to the application's exception handling. A
        // declined save or overwrite question ends the run quietly: nothing
        // was written, so nothing is reported as done.
        RunConversion(input, hooks);
    } catch (const EInterrupted&) {
        EndByInterrupt(PendingInterrupt());
    }
    if (const int signal = PendingInterrupt()) EndByInterrupt(signal);
}

} // namespace converter::gui
