#include "tests/support/scripted_dialogs.h"

namespace testing_support {
namespace {
bool Answer(std::deque<std::string>& script, std::string& path)
{
    if (script.empty()) return false;
    path = script.front();
    script.pop_front();
    return !path.empty();
}
} // namespace

bool ScriptedDialogs::OpenFile(const ui::FileDialogRequest& request, std::string& path)
{
    openRequests.push_back(request);
    return Answer(openPaths, path);
}

bool ScriptedDialogs::SaveFile(const ui::FileDialogRequest& request, std::string& path)
{
    saveRequests.push_back(request);
    return Answer(savePaths, path);
}

int ScriptedDialogs::MessageDlg(const std::string& text, ui::MsgDlgType, unsigned)
{
    questions.push_back(text);
    if (answers.empty()) return ui::mrNo;
    int a = answers.front();
    answers.pop_front();
    return a;
}

int ScriptedDialogs::MessageBox(ui::Window*, const std::string& text, const std::string& caption, unsigned flags)
{
    boxes.push_back({text, caption, flags});
    return ui::mrOk;
}

} // namespace testing_support
