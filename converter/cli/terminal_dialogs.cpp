#include "converter/cli/terminal_dialogs.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace converter {

int TerminalDialogs::MessageDlg(const std::string& text, ui::MsgDlgType, unsigned buttons)
{
    if (!(buttons & ui::mbYes)) {
        std::cerr << text << "\n";
        return ui::mrOk;
    }
    if (force_) return ui::mrYes;
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        unanswered_ = true;
        return ui::mrNo;
    }
    std::cerr << text << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? ui::mrYes : ui::mrNo;
}

int TerminalDialogs::MessageBox(ui::Window*, const std::string& text, const std::string& caption, unsigned)
{
    std::cerr << caption << ": " << text << "\n";
    return ui::mrOk;
}

} // namespace converter
