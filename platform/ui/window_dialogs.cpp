#include "platform/ui/window_dialogs.h"

#include "platform/ui/file_dialog.h"
#include "platform/ui/message_box.h"

namespace ui {

bool WindowDialogProvider::OpenFile(const FileDialogRequest& request, std::string& path)
{
    return RunFileDialog(request, FileDialogForm::Kind::fdOpen, path);
}

bool WindowDialogProvider::SaveFile(const FileDialogRequest& request, std::string& path)
{
    return RunFileDialog(request, FileDialogForm::Kind::fdSave, path);
}

int WindowDialogProvider::MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons)
{
    return ShowMessageDialog(ActiveForm(), text, type, buttons);
}

int WindowDialogProvider::MessageBox(Window* owner, const std::string& text, const std::string& caption, unsigned flags)
{
    Form* form = owner ? owner->TopLevel() : nullptr;
    return ShowMessageBox(form, text, caption, flags);
}

WindowDialogProvider& WindowDialogs()
{
    static WindowDialogProvider provider;
    return provider;
}

} // namespace ui
