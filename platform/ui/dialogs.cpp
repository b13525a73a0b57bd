#include "platform/ui/dialogs.h"

#include <atomic>

namespace ui {
namespace {
std::atomic<DialogProvider*> g_provider{nullptr};
}

DialogProvider* SetDialogProvider(DialogProvider* provider) { return g_provider.exchange(provider); }
DialogProvider* CurrentDialogProvider() { return g_provider.load(); }

bool OpenFileDialog(const FileDialogRequest& request, std::string& path)
{
    auto* p = CurrentDialogProvider();
    return p && p->OpenFile(request, path);
}

bool SaveFileDialog(const FileDialogRequest& request, std::string& path)
{
    auto* p = CurrentDialogProvider();
    return p && p->SaveFile(request, path);
}

int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons)
{
    auto* p = CurrentDialogProvider();
    return p ? p->MessageDlg(text, type, buttons) : mrCancel;
}

int MessageBox(Window* owner, const std::string& text, const std::string& caption, unsigned flags)
{
    auto* p = CurrentDialogProvider();
    return p ? p->MessageBox(owner, text, caption, flags) : mrCancel;
}

} // namespace ui
