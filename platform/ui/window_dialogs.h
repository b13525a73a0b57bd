#pragma once
// The dialog provider that shows the toolkit's own windows (file dialogs,
// message boxes, message dialogs) on the calling thread.
#include "platform/ui/dialogs.h"

namespace ui {

class WindowDialogProvider final : public DialogProvider {
public:
    bool OpenFile(const FileDialogRequest& request, std::string& path) override;
    bool SaveFile(const FileDialogRequest& request, std::string& path) override;
    int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons) override;
    int MessageBox(Window* owner, const std::string& text, const std::string& caption, unsigned flags) override;
};

// The process's instance of it.
WindowDialogProvider& WindowDialogs();

} // namespace ui
