#include "crashreport/ui/request_dialog.h"

#include <algorithm>

#include "crashreport/ui/dialog_fonts.h"
#include "platform/rtl/strings.h"
#include "platform/ui/dialog_units.h"

namespace crashreport::ui {

namespace {
constexpr unsigned kAutoCloseTimer = 2;
} // namespace

TRequestDialog::TRequestDialog(const TTavrelModuleOptions& options) : options_(options)
{
    const TDialogFonts fonts = MakeDialogFonts();
    Font = fonts.Dialog;
    Border = ::ui::BorderStyle::bsDialog;
    Position = ::ui::FormPosition::poScreenCenter;
    SetCaption(options.GetText(81));
    const ::ui::DialogBaseUnits du = ::ui::BaseUnitsOf(fonts.Dialog);
    const ::ui::TRect frame = ::ui::DialogRect(du, 0, 0, 316, 153);
    const int width = frame.Width(), textWidth = width - 27;
    label_ = Add<::ui::StaticText>(options.GetText(82));
    label_->Id = idRequestLabel;
    label_->Font = fonts.Dialog;
    gdi::Canvas measure(1, 1);
    measure.Font = fonts.Dialog;
    const int labelHeight =
        std::max(measure.TextHeight("Ag"), ::ui::MeasureTextBlock(measure, label_->Text(), textWidth).cy);
    const int height = frame.Height() + labelHeight - 10;
    SetBounds(0, 0, width, height);
    label_->SetBounds(10, 10, textWidth, labelHeight);
    edit_ = Add<::ui::Memo>();
    edit_->Id = idRequestEdit;
    edit_->Font = fonts.TextPane;
    edit_->TabStop = true;
    const int editHeight = std::max(40, height - labelHeight - 83 + 40);
    edit_->SetBounds(10, labelHeight + 14, width - 20, editHeight);
    ok_ = Add<::ui::Button>(options.GetText(83));
    ok_->Id = 2;
    ok_->Font = fonts.Dialog;
    ok_->TabStop = true;
    ok_->TabOrder = 1;
    ok_->Default = true;
    ok_->ModalResult = ::ui::mrOk;
    ok_->SetBounds(width - 85, labelHeight + editHeight + 20, 75, 23);
    SetClientSize(width, labelHeight + editHeight + 20 + 23 + 10);
}

::ui::LRESULT TRequestDialog::WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam)
{
    if (message == ::ui::WM_KEYDOWN || message == ::ui::WM_COMMAND) autoCloseCount_ = 0;
    if (message == ::ui::WM_TIMER && wParam == kAutoCloseTimer) {
        if (++autoCloseCount_ >= options_.DialogCloseSeconds()) {
            ::ui::KillTimer(Handle(), kAutoCloseTimer);
            Close();
        }
        return 0;
    }
    return ::ui::Form::WndProc(message, wParam, lParam);
}

bool TRequestDialog::Execute(std::string& text)
{
    edit_->SetFocus();
    if (options_.DialogCloseSeconds() > 0) ::ui::SetTimer(Handle(), kAutoCloseTimer, 1000);
    const int result = ShowModal();
    ::ui::KillTimer(Handle(), kAutoCloseTimer);
    if (result != ::ui::mrOk) return false;
    text = rtl::Trim(edit_->Text());
    return true;
}

void InsertReproduceSection(TErrorReport& report, const TTavrelModuleOptions& options, const std::string& text)
{
    const std::string title = options.GetText(81);
    std::string section = title + ":\r\n" + std::string(title.size() + 1, '-') + "\r\n";
    std::string line;
    const std::string clean = NormalizeLineEnds(CleanMessage(text));
    std::size_t start = 0;
    while (start <= clean.size()) {
        std::size_t end = clean.find("\r\n", start);
        if (end == std::string::npos) end = clean.size();
        line = clean.substr(start, end - start);
        // Blank lines would read as the end of a report in the log.
        section += (line.find_first_not_of(' ') == std::string::npos ? std::string(".") : line) + "\r\n";
        start = end + 2;
    }
    const std::size_t at = std::min(report.Text.size(), report.GeneralPart.size() + 2);
    report.Text.insert(at, section + "\r\n");
    report.GeneralPart += "\r\n" + section;
}

void ShowReproduceRequest(TDialogReport& report)
{
    if (!report.Options || !report.Report || report.SendSuppressed) return;
    const TTavrelModuleOptions& options = *report.Options;
    if (!options.LogFlags().Contains(lgAddReproduceText)) return;
    TRequestDialog dialog(options);
    std::string text;
    if (dialog.Execute(text)) InsertReproduceSection(*report.Report, options, text);
}

} // namespace crashreport::ui
