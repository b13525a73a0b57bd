#pragma once
// Dialog answers for the command-line converter: no windows, the overwrite
// question asked on the terminal (or answered by --force).
#include <string>

#include "platform/ui/dialogs.h"

namespace converter {

class TerminalDialogs : public ui::DialogProvider {
public:
    explicit TerminalDialogs(bool force) : force_(force) {}

    bool OpenFile(const ui::FileDialogRequest&, std::string&) override { return false; }
    bool SaveFile(const ui::FileDialogRequest&, std::string&) override { return false; }
    int MessageDlg(const std::string& text, ui::MsgDlgType type, unsigned buttons) override;
    int MessageBox(ui::Window*, const std::string& text, const std::string& caption, unsigned flags) override;

    // Whether a question was declined because nobody could answer it.
    bool UnansweredQuestion() const { return unanswered_; }

private:
    bool force_;
    bool unanswered_ = false;
};

} // namespace converter
