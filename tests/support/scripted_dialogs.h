#pragma once
// A dialog provider that answers from a script and records what was asked.
#include <deque>
#include <string>
#include <vector>

#include "platform/ui/dialogs.h"

namespace testing_support {

class ScriptedDialogs : public ui::DialogProvider {
public:
    // Answers for the next save/open dialogs: a path, or "" for Cancel.
    std::deque<std::string> savePaths, openPaths;
    // Answers for the next MessageDlg calls (ui::mrYes, ui::mrNo ...).
    std::deque<int> answers;

    std::vector<ui::FileDialogRequest> saveRequests, openRequests;
    std::vector<std::string> questions;
    struct Box {
        std::string text, caption;
        unsigned flags;
    };
    std::vector<Box> boxes;

    bool OpenFile(const ui::FileDialogRequest& request, std::string& path) override;
    bool SaveFile(const ui::FileDialogRequest& request, std::string& path) override;
    int MessageDlg(const std::string& text, ui::MsgDlgType type, unsigned buttons) override;
    int MessageBox(ui::Window* owner, const std::string& text, const std::string& caption, unsigned flags) override;
};

} // namespace testing_support
