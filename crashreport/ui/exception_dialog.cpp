#include "crashreport/ui/exception_dialog.h"

#include <algorithm>
#include <cmath>

#include "crashreport/errorlog/warnings.h"
#include "platform/net/mail_program.h"
#include "platform/ui/app_windows.h"
#include "platform/ui/backend.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/notify.h"

namespace crashreport::ui {

namespace {

constexpr int kSimpleMaxWidth = 640; // the simple window's widest outer width
constexpr int kFrame = 0;            // the frame lies outside the client area here
constexpr int kMaxMessageLineChars = 4000;

std::string WithoutAmpersands(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size()) ++i;
        out += s[i];
    }
    return out;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<unsigned char>(c) < 32 ? ' ' : c;
        }
    }
    lines.push_back(line);
    return lines;
}

// The error picture drawn at (8, 8): a red disc with a white cross.
void DrawErrorPicture(gdi::Canvas& c, int x, int y)
{
    c.Pen.Color = gdi::RGB(128, 0, 0);
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::RGB(220, 30, 30);
    c.Ellipse(x, y, x + 32, y + 32);
    c.Pen.Color = gdi::clWhite;
    c.Pen.Width = 3;
    c.MoveTo(x + 10, y + 10);
    c.LineTo(x + 22, y + 22);
    c.MoveTo(x + 22, y + 10);
    c.LineTo(x + 10, y + 22);
    c.Pen.Width = 1;
}

} // namespace

int FirstTabIndex(int firstTab, bool modules, bool cpu, bool other)
{
    int full = firstTab & 0x7F;
    if (full > 4 || (full == 4 && !other)) full = 0;
    // The visible index: one less for each absent page before it.
    const bool present[5] = {true, true, modules, cpu, other};
    int index = full;
    for (int i = 0; i < full; ++i)
        if (!present[i]) --index;
    return std::max(0, index);
}

TExceptionDialog::TExceptionDialog(TDialogReport& report, TReportChoices& choices, TStateFile& state)
    : report_(report), choices_(choices), state_(state), options_(*report.Options), fonts_(MakeDialogFonts())
{
    Font = fonts_.Dialog;
    SetCaption(options_.GetText(2));
    Border = ::ui::BorderStyle::bsDialog;
    EscapeCancels = false; // Escape presses OK, which is also the cancel button
    const ::ui::DialogBaseUnits du = ::ui::BaseUnitsOf(fonts_.Dialog);
    const ::ui::TRect frame = ::ui::DialogRect(du, 12, 25, 473, 248);
    SetBounds(frame.Left, frame.Top, frame.Width(), frame.Height());

    auto place = [&](::ui::Window* w, int x, int y, int cx, int cy) {
        const ::ui::TRect r = ::ui::DialogRect(du, x, y, cx, cy);
        w->SetBounds(r.Left, r.Top, r.Width(), r.Height());
        w->Font = fonts_.Dialog;
    };
    message_ = Add<::ui::StaticText>("Text");
    message_->Id = idMessage;
    message_->Align = ::ui::StaticText::Alignment::taCenter;
    place(message_, 34, 5, 432, 30);
    tabs_ = Add<::ui::TabControl>();
    tabs_->Id = idTabs;
    place(tabs_, 7, 40, 462, 151);
    terminate_ = Add<::ui::Button>("Kill");
    terminate_->Id = idTerminate;
    terminate_->TabStop = true;
    place(terminate_, 113, 196, 50, 15);
    ok_ = Add<::ui::Button>("OK");
    ok_->Id = idOK;
    ok_->TabStop = true;
    ok_->Default = true;
    ok_->Cancel = true;
    place(ok_, 212, 196, 50, 15);
    details_ = Add<::ui::Button>("Details");
    details_->Id = idDetails;
    details_->TabStop = true;
    place(details_, 316, 196, 50, 15);
    sendBox_ = Add<::ui::CheckBox>("Send an email to the program author");
    sendBox_->Id = idSendBox;
    sendBox_->TabStop = true;
    place(sendBox_, 7, 223, 130, 8);
    screenshotBox_ = Add<::ui::CheckBox>("Attach a screenshot");
    screenshotBox_->Id = idScreenshotBox;
    screenshotBox_->TabStop = true;
    place(screenshotBox_, 19, 233, 145, 8);
    copyBox_ = Add<::ui::CheckBox>("Copy to clipboard");
    copyBox_->Id = idCopyBox;
    copyBox_->RightAligned = true;
    copyBox_->TabStop = true;
    place(copyBox_, 152, 223, 145, 8);
    // Tab order: the buttons first, OK leading, then the boxes and the tabs.
    ok_->TabOrder = 0;
    terminate_->TabOrder = 1;
    details_->TabOrder = 2;
    sendBox_->TabOrder = 3;
    screenshotBox_->TabOrder = 4;
    copyBox_->TabOrder = 5;
    tabs_->TabOrder = 6;

    // What the bottom area shows.
    const TDialogFlags flags = options_.DialogFlags();
    showSend_ = report_.SendConfigured && !report_.SendSuppressed;
    showScreenshot_ = showSend_ && options_.SendFlags().Contains(sfAttachScreenshot);
    showCopy_ = flags.Contains(dfShowCopyButton);
    std::string page = options_.SupportPage();
    showLink_ = page.find_first_not_of(" \t") != std::string::npos;
    if ((showSend_ && showScreenshot_) || (showCopy_ && showLink_))
        extraHeight_ = 34;
    else if (showSend_ || showScreenshot_ || showCopy_ || showLink_)
        extraHeight_ = 20;

    detailed_ = flags.Contains(dfStartDetailed);
    ok_->SetText(options_.GetText(14));
    terminate_->SetText(options_.GetText(options_.TerminateAction() == taRestart ? 16 : 15));
    sendBox_->SetText(options_.GetText(18));
    screenshotBox_->SetText(options_.GetText(19));
    copyBox_->SetText(options_.GetText(20));
    sendBox_->SetChecked(choices_.Send && flags.Contains(dfSendChecked));
    screenshotBox_->SetChecked(choices_.Screenshot && flags.Contains(dfScreenshotChecked));
    screenshotBox_->SetEnabled(sendBox_->Checked());
    copyBox_->SetChecked(false);
    sendBox_->SetVisible(showSend_);
    screenshotBox_->SetVisible(showScreenshot_);
    copyBox_->SetVisible(showCopy_);
    terminate_->SetVisible(options_.ShowTerminateButton() &&
                           static_cast<long long>(report_.ErrorsHandled) > options_.TerminateButtonAfter());
    details_->SetVisible(flags.Contains(dfShowDetailsButton));
    sendBox_->OnClick = [this] { screenshotBox_->SetEnabled(sendBox_->Checked()); };
    ok_->ModalResult = ::ui::mrOk;
    terminate_->ModalResult = 3; // IDABORT
    terminate_->OnClick = [this] { terminatePressed_ = true; };
    details_->OnClick = [this] { ToggleMode(); };

    // The own look: its background colour behind the dialog and its labels.
    if (flags.Contains(dfOwnLook)) {
        background_ = gdi::RGB(212, 208, 200);
        for (::ui::Window* w :
             std::initializer_list<::ui::Window*>{this, message_, tabs_, sendBox_, screenshotBox_, copyBox_})
            w->Color = background_;
    }

    gdi::Canvas measure(1, 1);
    measure.Font = fonts_.Dialog;
    buttonWidth_ = 75;
    for (int t = 14; t <= 17; ++t)
        buttonWidth_ =
            std::max(buttonWidth_,
                     measure.TextWidth(WithoutAmpersands(options_.GetText(static_cast<std::size_t>(t))) + "O") + 16);

    // The tabs, in their fixed order, with the optional ones left out.
    const bool modules = options_.LogFlags().Contains(lgModulesSection);
    const bool cpu = options_.LogFlags().Contains(lgCpuSection);
    const bool other = !report_.CustomData.empty();
    std::vector<std::string> captions;
    const int texts[PageKindCount] = {4, 6, 8, 10, 12};
    const bool present[PageKindCount] = {true, true, modules, cpu, other};
    for (int k = 0; k < PageKindCount; ++k)
        if (present[k]) {
            pages_.push_back(static_cast<TPageKind>(k));
            captions.push_back(options_.GetText(static_cast<std::size_t>(texts[k])));
        }
    tabs_->SetTabs(captions);
    const int first =
        std::min(FirstTabIndex(options_.FirstTab(), modules, cpu, other), static_cast<int>(pages_.size()) - 1);
    tabs_->SetTabIndex(first);
    CreatePage(pages_[static_cast<size_t>(first)]);
    WatchInput(*this);
    ApplyMode();
}

TExceptionDialog::~TExceptionDialog() { page_.reset(); }

void TExceptionDialog::WatchInput(::ui::Window& window)
{
    auto previous = window.OnMessage;
    window.OnMessage = [this, previous](::ui::Window& w, const ::ui::Msg& m, ::ui::LRESULT& r) {
        if (m.message == ::ui::WM_KEYDOWN || m.message == ::ui::WM_LBUTTONDOWN || m.message == ::ui::WM_RBUTTONDOWN ||
            m.message == ::ui::WM_LBUTTONDBLCLK || m.message == ::ui::WM_MOUSEWHEEL || m.message == ::ui::WM_COMMAND ||
            m.message == ::ui::WM_NOTIFY)
            UserInput();
        return previous ? previous(w, m, r) : false;
    };
    for (::ui::Window* child : window.Children()) WatchInput(*child);
}

void TExceptionDialog::CreatePage(TPageKind kind)
{
    page_.reset();
    TPageContext context;
    context.Report = &report_;
    context.Options = &options_;
    context.Fonts = fonts_;
    context.State = &state_;
    context.UserInput = [this] { UserInput(); };
    page_ = std::make_unique<TReportPage>(tabs_, kind, context);
    page_->Color = background_;
    page_->Header()->Color = background_;
    WatchInput(*page_);
    Layout();
}

void TExceptionDialog::SelectPage(int tabIndex)
{
    if (tabIndex < 0 || tabIndex >= static_cast<int>(pages_.size())) return;
    if (tabs_->TabIndex() != tabIndex) tabs_->SetTabIndex(tabIndex);
    if (!page_ || page_->Kind() != pages_[static_cast<size_t>(tabIndex)])
        CreatePage(pages_[static_cast<size_t>(tabIndex)]);
    UserInput();
}

void TExceptionDialog::ApplyMode()
{
    details_->SetText(detailed_ ? "<< " + options_.GetText(17) : options_.GetText(17) + " >>");
    if (detailed_) {
        SetFrame(::ui::BorderStyle::bsSizeable, true);
        message_->SetText(options_.GetText(3));
        tabs_->Show();
        ApplyDetailedPlacement();
    } else {
        if (State() != ::ui::WindowState::wsNormal) SetWindowState(::ui::WindowState::wsNormal);
        SetFrame(::ui::BorderStyle::bsDialog, false);
        tabs_->Hide();
        ApplySimpleSize();
    }
    Layout();
    InvalidateAll();
}

void TExceptionDialog::ApplySimpleSize()
{
    gdi::Canvas measure(1, 1);
    measure.Font = fonts_.Dialog;
    const int lineHeight = std::max(1, measure.TextHeight("Ag"));
    const int usable = kSimpleMaxWidth - (2 * kFrame + 58);
    const ::ui::TSize screen = ScreenSize();
    // A message taller than the screen is cut to what fits.
    const int maxTextHeight = std::max(lineHeight, screen.cy - 86 - extraHeight_ - 80);
    std::vector<std::string> lines = SplitLines(report_.ExceptionMessage);
    std::string shown;
    // The check-box rows must fit as well: send and copy side by side (each
    // box half the width), the screenshot box beside the support link.
    const int boxRow = 2 *
            (std::max(measure.TextWidth(WithoutAmpersands(options_.GetText(18))),
                      measure.TextWidth(WithoutAmpersands(options_.GetText(20)))) +
             24) +
        8;
    gdi::Canvas linkMeasure(1, 1);
    linkMeasure.Font = fonts_.Link;
    const int linkRow = showLink_ ? 23 + measure.TextWidth(WithoutAmpersands(options_.GetText(19))) + 24 + 12 +
            linkMeasure.TextWidth(options_.GetText(21)) + 4
                                  : 0;
    const int rowsWidth = std::max(showSend_ || showCopy_ ? boxRow : 0, linkRow);
    int widest = 0;
    int height = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (line.size() > kMaxMessageLineChars) line = line.substr(0, kMaxMessageLineChars) + "...";
        const int w = line.empty() ? 0 : measure.TextWidth(line);
        const int rows = std::max(1, (w + usable - 1) / usable);
        if (height + rows * lineHeight > maxTextHeight) {
            shown += (shown.empty() ? "" : "\n") + std::string("...");
            height += lineHeight;
            break;
        }
        widest = std::max(widest, std::min(w, usable));
        height += rows * lineHeight;
        shown += (i ? "\n" : "") + line;
    }
    const int textWidth = std::min(usable, widest + 16);
    message_->SetText(shown);
    message_->Align = ::ui::StaticText::Alignment::taLeft;
    message_->SetBounds(48, 8, textWidth, height);
    const int width = std::min(screen.cx, std::max({250 - 2 * kFrame, textWidth + 58, rowsWidth}));
    const int clientHeight = std::max(0, height - 39) + 86 + extraHeight_;
    // Centred on the application's window when it told where it is, else
    // on the screen; on the screen either way.
    const ::ui::TRect& owner = ForeignOwnerBounds;
    const bool onOwner = owner.Width() > 0;
    const int left = onOwner ? owner.Left + (owner.Width() - width) / 2 : (screen.cx - width) / 2;
    const int top = onOwner ? owner.Top + (owner.Height() - clientHeight) / 2 : (screen.cy - clientHeight) / 2;
    SetBounds(std::clamp(left, 0, std::max(0, screen.cx - width)), std::clamp(top, 0, std::max(0, screen.cy - clientHeight)),
              width, clientHeight);
}

void TExceptionDialog::ApplyDetailedPlacement()
{
    const ::ui::TSize screen = ScreenSize();
    int width = state_.ReadInteger("Width", 745);
    int height = state_.ReadInteger("Height", 468);
    // A size that no screen has is not a placement worth keeping.
    if (width < 200 || width > 16384) width = 745;
    if (height < 150 || height > 16384) height = 468;
    int left = state_.ReadInteger("Left", (screen.cx - width) / 2);
    int top = state_.ReadInteger("Top", (screen.cy - (height + extraHeight_)) / 2);
    int shown = state_.ReadInteger("WindowsState", wsStateNormal);
    if (top + height > screen.cy) top = screen.cy - height - extraHeight_;
    if (left + width > screen.cx) left = screen.cx - width;
    left = std::max(0, left);
    top = std::max(0, top);
    savedLeft_ = left;
    savedTop_ = top;
    savedWidth_ = width;
    savedHeight_ = height + extraHeight_;
    haveWidth_ = true;
    SetWindowState(::ui::WindowState::wsNormal);
    SetBounds(left, top, width, height + extraHeight_);
    windowState_ = wsStateNormal;
    if (shown == wsStateMaximized) SetWindowState(::ui::WindowState::wsMaximized);
    // A dialog that opens minimised would be lost: it opens normal.
    windowState_ = shown == wsStateMaximized ? wsStateMaximized : wsStateNormal;
}

void TExceptionDialog::ToggleMode()
{
    if (detailed_) SaveState();
    detailed_ = !detailed_;
    ApplyMode();
}

void TExceptionDialog::RememberPlacement()
{
    if (State() == ::ui::WindowState::wsMaximized) {
        windowState_ = wsStateMaximized;
    } else if (State() == ::ui::WindowState::wsMinimized) {
        windowState_ = wsStateMinimized;
    } else if (detailed_) {
        windowState_ = wsStateNormal;
        savedWidth_ = Width();
        savedHeight_ = Height();
        savedLeft_ = Left();
        savedTop_ = Top();
        haveWidth_ = true;
    }
}

void TExceptionDialog::SaveState()
{
    if (detailed_) RememberPlacement();
    if (!haveWidth_) return;
    std::map<std::string, int> values;
    if (windowState_ == wsStateNormal) {
        values["Width"] = savedWidth_;
        values["Height"] = savedHeight_ - extraHeight_;
        values["Left"] = savedLeft_;
        values["Top"] = savedTop_;
    }
    values["WindowsState"] = windowState_;
    state_.WriteIntegers(values);
}

void TExceptionDialog::Resized()
{
    RememberPlacement();
    Layout();
}

void TExceptionDialog::Layout()
{
    if (!ok_) return; // still being built
    const int W = Width(), H = Height(), E = extraHeight_;
    const int B = buttonWidth_;
    const int Y = H - E - 32;
    tabs_->SetBounds(4, 52, std::max(0, W - 8), std::max(0, H - 90 - E));
    if (page_) {
        const ::ui::TRect d = tabs_->DisplayRect();
        page_->SetBounds(d.Left - 3, d.Top - 1, std::max(0, d.Width()), std::max(0, d.Height()));
    }
    if (detailed_) message_->SetBounds(48, 8, std::max(0, W - 56), 42);
    message_->Align = detailed_ ? ::ui::StaticText::Alignment::taCenter : ::ui::StaticText::Alignment::taLeft;
    ok_->SetBounds((W - B) / 2, Y, B, 25);
    terminate_->SetBounds(5, Y, B, 25);
    details_->SetBounds(W - B - 5, Y, B, 25);
    const int boxWidth = (W - 8) / 2;
    sendBox_->SetBounds(4, Y + 34, boxWidth, 16);
    copyBox_->SetBounds(W - boxWidth - 4, Y + 34, boxWidth, 16);
    screenshotBox_->SetBounds(23, Y + 50, W / 2, 16);
    if (showLink_) {
        gdi::Canvas measure(1, 1);
        measure.Font = fonts_.Link;
        const int tw = measure.TextWidth(options_.GetText(21));
        const int top = Y + (showCopy_ ? 50 : 34);
        supportRect_ = ::ui::TRect{W - 4 - tw, top, W - 4, top + 13 + 2};
    } else {
        supportRect_ = ::ui::TRect{};
    }
    InvalidateAll();
}

void TExceptionDialog::Paint(gdi::Canvas& c)
{
    ::ui::Form::Paint(c);
    DrawErrorPicture(c, 8, 8);
    if (!supportRect_.IsEmpty()) {
        c.Font = fonts_.Link;
        c.Font.Color = hoverLink_ ? gdi::RGB(0, 0, 255) : gdi::RGB(0, 0, 128);
        c.Brush.Style = gdi::BrushStyle::bsClear;
        c.TextRect(supportRect_, supportRect_.Left, supportRect_.Top, options_.GetText(21));
    }
}

void TExceptionDialog::MouseUp(::ui::TPoint p, unsigned button, unsigned)
{
    if (button != ::ui::MK_LBUTTON) return;
    if (!supportRect_.Contains(p.X, p.Y)) return;
    OpenSupportPage();
}

void TExceptionDialog::CheckForeground()
{
    if (StayOnTop() || !Visible()) return;
    const ::ui::HWND foreground = ::ui::ForegroundWindow();
    if (foreground == 0 || foreground == Handle()) return;
    if (std::find(windowsAtOpen_.begin(), windowsAtOpen_.end(), foreground) == windowsAtOpen_.end()) return;
    BringToFront();
}

void TExceptionDialog::OpenSupportPage()
{
    // The browser comes to the front: the dialog stops staying on top.
    SetStayOnTop(false);
    net::RunProgram("xdg-open", {options_.SupportPage()}, 0);
}

void TExceptionDialog::MouseMove(::ui::TPoint p, unsigned)
{
    const bool hover = supportRect_.Contains(p.X, p.Y);
    if (hover != hoverLink_) {
        hoverLink_ = hover;
        Invalidate();
    }
}

::ui::LRESULT TExceptionDialog::WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam)
{
    switch (message) {
    case ::ui::WM_PAINT: painted_ = true; break;
    case ::ui::WM_TIMER:
        if (wParam == tmPaintCheck) {
            ::ui::KillTimer(Handle(), tmPaintCheck);
            if (!painted_) ModalResult = ::ui::mrCancel;
            return 0;
        }
        if (wParam == tmTopMost) {
            CheckForeground();
            return 0;
        }
        if (wParam == tmAutoClose) {
            if (++autoCloseCount_ >= options_.DialogCloseSeconds()) {
                ::ui::KillTimer(Handle(), tmAutoClose);
                Close();
            }
            return 0;
        }
        break;
    case ::ui::WM_NOTIFY: {
        const auto* h = reinterpret_cast<const ::ui::NotifyHeader*>(lParam);
        if (h && h->hwndFrom == tabs_->Handle() && h->code == ::ui::TCN_SELCHANGE) {
            SelectPage(tabs_->TabIndex());
            return 0;
        }
        break;
    }
    default: break;
    }
    return ::ui::Form::WndProc(message, wParam, lParam);
}

bool TExceptionDialog::Execute()
{
    // The dialog belongs to the application's window, which is on the
    // waiting thread: transient for it, and a simple dialog opens centred on
    // it. A thread that does not answer (a freeze) leaves it on the screen's
    // centre.
    ::ui::WindowPlacement owner;
    if (const ::ui::HWND app = ::ui::FindApplicationWindow(); app && ::ui::QueryWindowPlacement(app, 100, owner)) {
        ForeignOwner = owner.native;
        ForeignOwnerBounds = owner.bounds;
        if (!detailed_) ApplySimpleSize();
    }
    ok_->SetFocus();
    painted_ = false;
    ::ui::SetTimer(Handle(), tmPaintCheck, 1);
    if (options_.DialogCloseSeconds() > 0) ::ui::SetTimer(Handle(), tmAutoClose, 1000);
    if (options_.DialogFlags().Contains(dfStayOnTop)) SetStayOnTop(true);
    windowsAtOpen_ = ::ui::ShownTopLevels();
    ::ui::SetTimer(Handle(), tmTopMost, 10);
    ::ui::Beep();
    ShowModal();
    ::ui::KillTimer(Handle(), tmAutoClose);
    ::ui::KillTimer(Handle(), tmTopMost);
    if (::ui::ThreadDisplayLost())
        RecordWarning(eeShowError, "The display went away while the exception dialog was shown.");
    choices_.Send = sendBox_->Checked() && showSend_;
    choices_.Screenshot = screenshotBox_->Checked() && showScreenshot_;
    choices_.Copy = copyBox_->Checked() && showCopy_;
    choices_.Terminate = terminatePressed_;
    if (detailed_) SaveState();
    page_.reset(); // list pages write their column widths
    return painted_;
}

bool ShowExceptionDialog(TDialogReport& report, TReportChoices& choices)
{
    if (!report.Options) return false;
    TStateFile state;
    for (;;) {
        bool painted;
        {
            TExceptionDialog dialog(report, choices, state);
            painted = dialog.Execute();
        }
        if (!painted) return false;
        if (!choices.Terminate || !report.TerminateNotify) return true;
        bool terminate = true;
        report.TerminateNotify(terminate);
        if (terminate) return true;
        choices.Terminate = false; // vetoed: the same report again
    }
}

} // namespace crashreport::ui
