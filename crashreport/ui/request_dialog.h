#pragma once
// The request dialog: asks the user what he was doing when the error
// happened, and inserts the trimmed answer into the report as a section of
// its own right after the general part. Closing it any other way than with
// OK (the auto-close count, Escape, the close box) inserts nothing.
#include <string>

#include "crashreport/report/report_dialogs.h"
#include "platform/ui/button.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"

namespace crashreport::ui {

enum : int { idRequestLabel = 100, idRequestEdit = 101 };

class TRequestDialog : public ::ui::Form {
public:
    explicit TRequestDialog(const TTavrelModuleOptions& options);
    ::ui::StaticText* Label() const { return label_; }
    ::ui::Memo* Edit() const { return edit_; }
    ::ui::Button* OkButton() const { return ok_; }
    // Shows it modally; the trimmed text when OK ended it, else nothing.
    bool Execute(std::string& text);
    ::ui::LRESULT WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam) override;

private:
    const TTavrelModuleOptions& options_;
    ::ui::StaticText* label_ = nullptr;
    ::ui::Memo* edit_ = nullptr;
    ::ui::Button* ok_ = nullptr;
    int autoCloseCount_ = 0;
};

// Inserts the answer as a section captioned with the request caption after
// the general part of the report, extending the general part.
void InsertReproduceSection(TErrorReport& report, const TTavrelModuleOptions& options, const std::string& text);

// The request as the pipeline calls it once it has decided that one is due
// (a GUI program, the send box ticked or SaveLog on); a repeat or options
// without lgAddReproduceText show nothing.
void ShowReproduceRequest(TDialogReport& report);

} // namespace crashreport::ui
